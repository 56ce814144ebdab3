#pragma once

#include <QString>
#include <functional>

class Dialogs;
class QWidget;

inline constexpr char kProductName[] = "Brisklume";
inline constexpr char kHomePage[] = "https://brisklume.example/";

// The short title of message boxes: the product name cut at its last blank
// until it is 40 characters or shorter; a name without a blank is kept.
QString SetApplicationTitle(const QString& product_name = kProductName);

// Applies the style sheet at program folder + "/x/o.cjs" to the window, when
// that file exists.
void ApplySkin(QWidget& window, const QString& program_folder);

// Opens the home page on one start in a hundred. `chance` gives a number in
// [0, 1).
void VisitHomePageRarely(Dialogs& dialogs,
                         const std::function<double()>& chance);

// The desktop folder followed by one separator; throws when the shell cannot
// name it.
QString DesktopFolder(Dialogs& dialogs);
