#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>

#include "app/command_line.h"
#include "app/progress_bar_sink.h"
#include "app/startup.h"
#include "filelist/shell_drops.h"
#include "support/controls.h"
#include "support/files.h"
#include "support/form_harness.h"

namespace {

using Settings = QList<QPair<QString, QString>>;

void Store(const SettingsStore& store, const Settings& settings) {
  for (const auto& [key, value] : settings) store.Write(key, value);
}

QList<int> ReportedLines(const FakeDialogs& dialogs) {
  QList<int> lines;
  for (const auto& report : dialogs.ErrorReports()) {
    const qsizetype at = report.text.indexOf("at line ");
    lines << report.text.mid(at + 8).section('\n', 0, 0).toInt();
  }
  return lines;
}

void MoveOver(QWidget* widget) {
  QMouseEvent move(QEvent::MouseMove, QPointF(2, 2),
                   widget->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &move);
}

}  // namespace

// Counts the paints a widget receives.
struct PaintCounter : QObject {
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
  int count = 0;
};

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void ControlsStandWhereDesigned_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("ListView1") << "ListView1" << QRect(8, 8, 520, 169) << "";
    QTest::newRow("PushButton1")
        << "PushButton1" << QRect(8, 183, 256, 27) << "Add Image File(s)";
    QTest::newRow("PushButton3") << "PushButton3" << QRect(272, 183, 256, 27)
                                 << "Add All File(s) In Folder";
    QTest::newRow("PushButton4")
        << "PushButton4" << QRect(8, 217, 256, 27) << "Clear List";
    QTest::newRow("PushButton5") << "PushButton5" << QRect(272, 217, 256, 27)
                                 << "Load Sample/Example Files";
    QTest::newRow("Frame1")
        << "Frame1" << QRect(8, 248, 520, 59) << "JPG Image Quality";
    QTest::newRow("Slider1") << "Slider1" << QRect(8, 16, 504, 36) << "";
    QTest::newRow("Frame5")
        << "Frame5" << QRect(8, 311, 520, 121) << "Save Option";
    QTest::newRow("Option1") << "Option1" << QRect(16, 20, 241, 17)
                             << "Save results to this folder:";
    QTest::newRow("Option2") << "Option2" << QRect(16, 94, 241, 17)
                             << "Save results in folder of original file";
    QTest::newRow("Frame2") << "Frame2" << QRect(32, 34, 456, 54) << "";
    QTest::newRow("Text2") << "Text2" << QRect(16, 20, 378, 23) << "";
    QTest::newRow("PushButton6")
        << "PushButton6" << QRect(400, 20, 40, 23) << "...";
    QTest::newRow("PushButton2")
        << "PushButton2" << QRect(8, 441, 520, 27) << "Start Converting To JPG";
    QTest::newRow("ProgressBar1")
        << "ProgressBar1" << QRect(8, 476, 520, 27) << "Progress Bar";
  }
  void ControlsStandWhereDesigned() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    FormHarness harness;
    Form1& form = harness.Make();
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
    QString shown;
    if (auto* b = qobject_cast<QAbstractButton*>(widget)) shown = b->text();
    if (auto* g = qobject_cast<QGroupBox*>(widget)) shown = g->title();
    if (auto* e = qobject_cast<QLineEdit*>(widget)) shown = e->text();
    if (auto* p = qobject_cast<QProgressBar*>(widget)) shown = p->text();
    QCOMPARE(shown, text);
    const qreal points = qobject_cast<QPushButton*>(widget) ? 11.25 : 9;
    QCOMPARE(widget->font().pointSizeF(), points);
    QVERIFY(widget->font().bold());
  }

  void WindowIsFixedWhiteAndTitled() {
    FormHarness harness;
    Form1& form = harness.Load();
    QCOMPARE(form.size(), QSize(536, 511));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(form.windowTitle(), QString("Brisklume"));
    QCOMPARE(form.ApplicationTitle(), QString("Brisklume"));
    QVERIFY(!form.windowIcon().isNull());
    QCOMPARE(Controls(form).ListView1->columnCount(), 1);
    QCOMPARE(Controls(form).ListView1->headerItem()->text(0),
             QString("PNG File(s)"));
    QCOMPARE(Controls(form).ListView1->columnWidth(0), 467);
    QVERIFY(Controls(form).ListView1->toolTip().startsWith(
        "Drag and drop files here."));
    QCOMPARE(Controls(form).Slider1->minimum(), 1);
    QCOMPARE(Controls(form).Slider1->maximum(), 100);
    QCOMPARE(Controls(form).Slider1->singleStep(), 1);
    QCOMPARE(Controls(form).Slider1->pageStep(), 5);
    QCOMPARE(Controls(form).Slider1->tickPosition(), QSlider::TicksBelow);
    QCOMPARE(Controls(form).Slider1->tickInterval(), 1);
  }

  void TabOrderStartsAtTheList() {
    FormHarness harness;
    Form1& form = harness.Load();
    form.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(Controls(form).ListView1->hasFocus());
    QStringList chain;
    QWidget* w = Controls(form).ListView1;
    do {
      if (w->objectName().contains(QRegularExpression("^[A-Z].*[0-9]$")) &&
          w->focusPolicy() & Qt::TabFocus) {
        chain << w->objectName();
      }
      w = w->nextInFocusChain();
    } while (w != Controls(form).ListView1);
    // Frames and the progress bar take no focus; the rest follow in order.
    QCOMPARE(chain, QStringList({"ListView1", "PushButton1", "PushButton3",
                                 "PushButton2", "PushButton4", "PushButton5",
                                 "Slider1", "Option1", "Option2", "Text2",
                                 "PushButton6"}));
  }

  void FirstStartShowsAndStoresDefaults() {
    FormHarness harness;
    harness.dialogs.desktop = "/home/ada/Desktop";
    Form1& form = harness.Load();
    QVERIFY(harness.dialogs.ErrorReports().isEmpty());
    QCOMPARE(Controls(form).Text2->text(), QString("/home/ada/Desktop/"));
    QCOMPARE(Controls(form).Slider1->value(), 85);
    QCOMPARE(Controls(form).Frame1->title(),
             QString("Output JPG image quality: 85%"));
    QVERIFY(Controls(form).Option1->isChecked());
    QVERIFY(!Controls(form).Option2->isChecked());
    QVERIFY(Controls(form).Frame2->isEnabled());
    QCOMPARE(harness.store.Read("Text2", "-"), QString("/home/ada/Desktop/"));
    QCOMPARE(harness.store.Read("Option1", "-"), QString("True"));
    QCOMPARE(harness.store.Read("Option2", "-"), QString("False"));
  }

  void StoredSettingsAreRestored_data() {
    QTest::addColumn<Settings>("stored");
    QTest::addColumn<bool>("option1");
    QTest::addColumn<bool>("option2");
    QTest::addColumn<bool>("frame2");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QList<int>>("lines");
    QTest::newRow("option1 as 1") << Settings{{"Option1", "1"}} << true << false
                                  << true << 85 << QList<int>{};
    QTest::newRow("option1 as -1") << Settings{{"Option1", "-1"}} << true
                                   << false << true << 85 << QList<int>{};
    QTest::newRow("both false")
        << Settings{{"Option1", "0"}, {"Option2", "False"}} << false << false
        << false << 85 << QList<int>{};
    QTest::newRow("option1 as yes") << Settings{{"Option1", "yes"}} << true
                                    << false << true << 85 << QList<int>{138};
    QTest::newRow("beside the source")
        << Settings{{"Option1", "False"}, {"Option2", "True"}} << false << true
        << false << 85 << QList<int>{};
    QTest::newRow("quality 40") << Settings{{"Slider1", "40"}} << true << false
                                << true << 40 << QList<int>{};
    QTest::newRow("quality abc") << Settings{{"Slider1", "abc"}} << true
                                 << false << true << 85 << QList<int>{134};
    QTest::newRow("quality 150") << Settings{{"Slider1", "150"}} << true
                                 << false << true << 85 << QList<int>{134};
    QTest::newRow("quality 0") << Settings{{"Slider1", "0"}} << true << false
                               << true << 85 << QList<int>{134};
  }
  void StoredSettingsAreRestored() {
    QFETCH(Settings, stored);
    QFETCH(bool, option1);
    QFETCH(bool, option2);
    QFETCH(bool, frame2);
    QFETCH(int, quality);
    QFETCH(QList<int>, lines);
    FormHarness harness;
    Store(harness.store, stored);
    Form1& form = harness.Load();
    QCOMPARE(ReportedLines(harness.dialogs), lines);
    QCOMPARE(Controls(form).Option1->isChecked(), option1);
    QCOMPARE(Controls(form).Option2->isChecked(), option2);
    QCOMPARE(Controls(form).Frame2->isEnabled(), frame2);
    QCOMPARE(Controls(form).Slider1->value(), quality);
    QCOMPARE(Controls(form).Frame1->title(),
             QString("Output JPG image quality: %1%").arg(quality));
  }

  void StoredFolderTextIsShownAndKept() {
    FormHarness harness;
    harness.store.Write("Text2", "/srv/photos/out");
    Form1& form = harness.Load();
    QCOMPARE(Controls(form).Text2->text(), QString("/srv/photos/out"));
    QCOMPARE(harness.store.Read("Text2", ""), QString("/srv/photos/out"));
  }

  void DesktopFolder_data() {
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("lines");
    QTest::newRow("named") << "/home/u/Desktop"
                           << "/home/u/Desktop/" << QList<int>{};
    QTest::newRow("already ends in a separator")
        << "/home/u/Desktop/"
        << "/home/u/Desktop//" << QList<int>{};
    QTest::newRow("shell cannot name it") << ""
                                          << "" << QList<int>{132};
  }
  void DesktopFolder() {
    QFETCH(QString, desktop);
    QFETCH(QString, text);
    QFETCH(QList<int>, lines);
    FormHarness harness;
    harness.dialogs.desktop = desktop;
    Form1& form = harness.Load();
    QCOMPARE(Controls(form).Text2->text(), text);
    QCOMPARE(ReportedLines(harness.dialogs), lines);
    QCOMPARE(harness.store.Read("Text2", "<none>"),
             text.isEmpty() ? QString("<none>") : text);
  }

  void SkinRepaintsAndStyles_data() {
    QTest::addColumn<bool>("present");
    QTest::newRow("absent") << false;
    QTest::newRow("present") << true;
  }
  void SkinRepaintsAndStyles() {
    QFETCH(bool, present);
    FormHarness harness;
    const QString sheet = "QPushButton { color: rgb(10, 20, 30); }";
    if (present) {
      QDir(harness.ProgramFolder()).mkpath("x");
      QFile skin(harness.ProgramFolder() + "/x/o.cjs");
      QVERIFY(skin.open(QIODevice::WriteOnly));
      skin.write(sheet.toUtf8());
    }
    Form1& form = harness.Load();
    QVERIFY(harness.dialogs.ErrorReports().isEmpty());
    const QColor face = form.palette().color(QPalette::Button);
    const QColor expected = present ? face : QColor(Qt::white);
    QCOMPARE(form.palette().color(QPalette::Window), expected);
    for (QWidget* w : std::initializer_list<QWidget*>{
             Controls(form).Frame1, Controls(form).Frame2,
             Controls(form).Frame5, Controls(form).Option1,
             Controls(form).Option2}) {
      QCOMPARE(w->autoFillBackground(), present);
    }
    QCOMPARE(form.styleSheet(), present ? sheet : QString());
  }

  void HoverRuleHonoursBusy() {
    FormHarness harness;
    QFile::copy(QStringLiteral(BUILD_DIR) + "/HAND-M.CUR",
                harness.ProgramFolder() + "/HAND-M.CUR");
    Form1& form = harness.Load();
    form.show();
    WindowPointer& pointer = form.Pointer();
    using State = WindowPointer::State;

    MoveOver(Controls(form).PushButton1);
    QCOMPARE(pointer.Get(), State::kHand);
    QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(form.cursor().hotSpot(), QPoint(5, 0));
    MoveOver(Controls(form).Frame5);
    QCOMPARE(pointer.Get(), State::kDefault);
    MoveOver(Controls(form).PushButton6);
    MoveOver(Controls(form).Slider1);
    QCOMPARE(pointer.Get(), State::kHand);
    MoveOver(&form);
    QCOMPARE(pointer.Get(), State::kDefault);

    pointer.Set(State::kBusy);
    for (QWidget* w : std::initializer_list<QWidget*>{
             Controls(form).PushButton2, Controls(form).Text2, &form,
             Controls(form).ListView1->viewport()}) {
      MoveOver(w);
      QCOMPARE(pointer.Get(), State::kBusy);
    }
    QCOMPARE(form.cursor().shape(), Qt::WaitCursor);
    pointer.Set(State::kDefault);
    MoveOver(Controls(form).PushButton2);
    QCOMPARE(pointer.Get(), State::kHand);
  }

  // Through the window system, as a real pointer moves: a surface hears a
  // move without a pressed button only when it tracks the mouse.
  void HoverOverTheListWithoutAButton() {
    FormHarness harness;
    Form1& form = harness.Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Pointer().Hover(WindowPointer::State::kHand);
    QTest::mouseMove(Controls(form).ListView1->viewport(), QPoint(20, 20));
    QTest::mouseMove(Controls(form).ListView1->viewport(), QPoint(30, 25));
    QCOMPARE(form.Pointer().Get(), WindowPointer::State::kDefault);
  }

  // Each control stores its own key, and only that one.
  void ControlsStoreTheirKeys_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<bool>("frame2");
    QTest::newRow("quality") << "Slider1" << QStringList{"Slider1=40"} << true;
    QTest::newRow("beside the source")
        << "Option2" << QStringList{"Option1=False", "Option2=True"} << false;
    QTest::newRow("chosen folder")
        << "Option1" << QStringList{"Option1=True", "Option2=False"} << true;
    QTest::newRow("folder text")
        << "Text2" << QStringList{"Text2=/srv/out"} << true;
  }
  void ControlsStoreTheirKeys() {
    QFETCH(QString, control);
    QFETCH(QStringList, stored);
    QFETCH(bool, frame2);
    FormHarness harness;
    Form1& form = harness.Load();
    if (control == "Option1") Controls(form).Option2->click();
    QFile::remove(harness.store.Path());
    if (control == "Slider1") Controls(form).Slider1->setValue(40);
    if (control == "Option1") Controls(form).Option1->click();
    if (control == "Option2") Controls(form).Option2->click();
    if (control == "Text2") Controls(form).Text2->setText("/srv/out");
    QStringList found;
    for (const char* key : {"Slider1", "Option1", "Option2", "Text2"}) {
      const QString value = harness.store.Read(key, "-");
      if (value != "-") found << QString(key) + "=" + value;
    }
    QCOMPARE(found, stored);
    QCOMPARE(Controls(form).Frame2->isEnabled(), frame2);
  }

  void HandWithoutCursorFileShowsArrow() {
    FormHarness harness;
    Form1& form = harness.Load();
    MoveOver(Controls(form).PushButton1);
    QCOMPARE(form.Pointer().Get(), WindowPointer::State::kHand);
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
  }

  void UnreadableCursorFileIsReported() {
    FormHarness harness;
    QFile bad(harness.ProgramFolder() + "/HAND-M.CUR");
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("not a cursor");
    bad.close();
    harness.Load();
    QCOMPARE(ReportedLines(harness.dialogs), QList<int>{106});
  }

  void HomePageOnOneStartInAHundred_data() {
    QTest::addColumn<double>("chance");
    QTest::addColumn<bool>("opened");
    QTest::newRow("n is 6") << 0.0599 << false;
    QTest::newRow("n is 7, low") << 0.06 << true;
    QTest::newRow("n is 7, high") << 0.0699 << true;
    QTest::newRow("n is 8") << 0.07 << false;
    QTest::newRow("n is 1") << 0.0 << false;
    QTest::newRow("n is 100") << 0.9999 << false;
  }
  void HomePageOnOneStartInAHundred() {
    QFETCH(double, chance);
    QFETCH(bool, opened);
    FormHarness harness(chance);
    harness.Load();
    QCOMPARE(
        harness.dialogs.opened,
        opened ? QStringList{"https://brisklume.example/"} : QStringList{});
  }

  // Restored values write themselves back and every keystroke writes: a
  // store that cannot be written is told once per start, by the first
  // statement that failed to write it.
  void UnwritableStoreIsReportedOnce() {
    FormHarness harness;
    QFile blocker(harness.dir.filePath("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    harness.store = SettingsStore(harness.dir.filePath("blocker/Kestovar.ini"));
    Form1& form = harness.Load();
    QStringList handlers;
    for (const auto& report : harness.dialogs.ErrorReports()) {
      handlers << report.text.section('\n', 1, 1);
    }
    QCOMPARE(handlers,
             QStringList{"in Quorlent2021/08/31.Form1.Form_Load at line 108"});
    QVERIFY(Controls(form).Frame2->isEnabled());
    harness.dialogs.messages.clear();
    Controls(form).Slider1->setValue(30);
    QTest::keyClicks(Controls(form).Text2, "/x");
    QCOMPARE(Controls(form).Frame1->title(),
             QString("Output JPG image quality: 30%"));
    QCOMPARE(harness.dialogs.ErrorReports().size(), 0);
  }

  // A creep past 100 never fails: the bar shows it at its end, and
  // fractions round half to even.
  void ProgressBarKeepsItsRange() {
    QProgressBar bar;
    ProgressBarSink sink(&bar);
    const struct {
      double set;
      int shown;
    } cases[] = {{190, 100}, {27.5, 28}, {26.5, 26}, {-3, 0}};
    for (const auto& c : cases) {
      sink.SetValue(c.set);
      QCOMPARE(bar.value(), c.shown);
    }
  }

  // A file's value and caption are painted as it starts, before its
  // converter runs, and not again while it runs; a change within a frame of
  // a paint is painted a frame later, not lost.
  void ProgressBarPaintsAsAFileStarts() {
    QProgressBar bar;
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    ProgressBarSink sink(&bar);
    PaintCounter paints(&bar);
    QTest::qWait(40);
    paints.count = 0;
    sink.SetValue(10);
    sink.SetCaption("Processing: a.png");
    QCoreApplication::processEvents();
    QCOMPARE(paints.count, 1);
    QTest::qWait(60);
    QCOMPARE(paints.count, 1);
    sink.SetValue(20);
    QCoreApplication::processEvents();
    sink.SetValue(30);
    QCoreApplication::processEvents();
    QCOMPARE(paints.count, 2);
    QTRY_COMPARE_WITH_TIMEOUT(paints.count, 3, 200);
    QCOMPARE(bar.value(), 30);
  }

  // Files and folders handed over on the command line ("Open With") are
  // queued as a drop of them would be; names that are not valid text and
  // options are not queued.
  void CommandLineQueuesAsADrop() {
    FormHarness harness;
    Form1& form = harness.Load();
    const QDir dir(harness.dir.path());
    QVERIFY(dir.mkpath("tree/deeper"));
    Save(dir.filePath("one.png"), "x");
    Save(dir.filePath("tree/deeper/two.png"), "x");
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const char* const argv[] = {"brisklume", "one.png",    "--version",
                                "--",        "tree",       "\xff.png",
                                "-odd.png",  "missing.png"};
    const CommandLine line = ParseCommandLine(8, argv);
    QDir::setCurrent(saved);
    QVERIFY(line.version);
    form.Drops().AddDroppedPaths(line.paths);
    QCOMPARE(Rows(form.Files()),
             QStringList(
                 {dir.filePath("one.png"), dir.filePath("tree/deeper/two.png"),
                  dir.filePath("-odd.png"), dir.filePath("missing.png")}));
    const char* const wrong[] = {"brisklume", "--frobnicate"};
    QCOMPARE(ParseCommandLine(2, wrong).error,
             QString("unknown option --frobnicate"));
  }

  // Help and version need no window system.
  void HelpAndVersionWithoutAScreen_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("starts");
    QTest::newRow("help") << "--help"
                          << "usage: brisklume";
    QTest::newRow("version") << "--version"
                             << "brisklume 0.1.0";
  }
  void HelpAndVersionWithoutAScreen() {
    QFETCH(QString, option);
    QFETCH(QString, starts);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(environment);
    program.start(BUILD_DIR "/brisklume", {option});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(QString::fromLocal8Bit(program.readAllStandardOutput())
                .startsWith(starts));
  }

  void ApplicationTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("one word") << "Brisklume"
                              << "Brisklume";
    QTest::newRow("several words") << "Brisklume PNG To JPG"
                                   << "Brisklume PNG To";
    QTest::newRow("long")
        << "Brisklume Batch Converter For Very Many Files At Once"
        << "Brisklume Batch Converter For Very Many";
  }
  void ApplicationTitle() {
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(SetApplicationTitle(name), title);
  }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
