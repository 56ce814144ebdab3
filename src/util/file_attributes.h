#pragma once

#include <QString>

// A path's attributes in the numbers the program reasons with: 1 read-only
// (the user may not write it), 2 hidden (the name begins with "."), 16
// folder, 32 archive (every regular file). No file is a system file here.
// -1 when the path cannot be examined.
inline constexpr int kAttributeReadOnly = 1;
inline constexpr int kAttributeHidden = 2;
inline constexpr int kAttributeFolder = 16;
inline constexpr int kAttributeArchive = 32;
int FileAttributes(const QString& path);

// The folder and the name joined by one separator; the root already ends
// in one.
QString JoinPath(const QString& folder, const QString& name);
