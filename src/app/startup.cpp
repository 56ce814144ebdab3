#include "app/startup.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

#include "base/dialogs.h"
#include "base/failure.h"
#include "base/failure_numbers.h"
#include "util/file_queries.h"

QString SetApplicationTitle(const QString& product_name) {
  QString title = product_name;
  do {
    const qsizetype blank = title.lastIndexOf(' ');
    if (blank < 0) break;
    title.truncate(blank);
  } while (title.size() > 40);
  return title;
}

namespace {

void PaintButtonFace(QWidget& widget) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  widget.setPalette(palette);
  widget.setAutoFillBackground(true);
}

}  // namespace

void ApplySkin(QWidget& window, const QString& program_folder) {
  const QString path = program_folder + "/x/o.cjs";
  if (!PathExists(path)) return;
  PaintButtonFace(window);
  for (QWidget* child : window.findChildren<QWidget*>()) {
    if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
        qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child)) {
      PaintButtonFace(*child);
    }
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    throw Failure("The skin " + QDir::toNativeSeparators(path) +
                  " cannot be read.");
  }
  window.setStyleSheet(QString::fromUtf8(file.readAll()));
}

void VisitHomePageRarely(Dialogs& dialogs,
                         const std::function<double()>& chance) {
  const int n = static_cast<int>(chance() * 100) + 1;
  if (n == 7) dialogs.OpenUrl(kHomePage);
}

QString DesktopFolder(Dialogs& dialogs) {
  const QString desktop = dialogs.DesktopPath();
  if (desktop.isEmpty()) {
    throw Failure("Invalid procedure call or argument", kInvalidProcedureCall);
  }
  return desktop + QDir::separator();
}
