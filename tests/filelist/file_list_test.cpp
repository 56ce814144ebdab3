#include "filelist/file_list.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include "support/controls.h"
#include "support/form_harness.h"

namespace {

void Send(QWidget* target, QEvent::Type type, QPoint at,
          Qt::MouseButtons buttons = Qt::LeftButton) {
  QMouseEvent event(type, at, target->mapToGlobal(at),
                    type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                    buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &event);
}

QPoint RowCentre(QTreeWidget* list, int row) {
  return list->visualItemRect(list->topLevelItem(row - 1)).center();
}

struct Queue {
  explicit Queue(const QStringList& paths) : form(harness.Load()) {
    form.show();
    for (const QString& p : paths) form.Files().Append(p);
  }
  QWidget* Viewport() { return Controls(form).ListView1->viewport(); }
  void Press(int row) {
    Send(Viewport(), QEvent::MouseButtonPress,
         RowCentre(Controls(form).ListView1, row));
  }
  void MoveTo(int row) {
    Send(Viewport(), QEvent::MouseMove,
         RowCentre(Controls(form).ListView1, row));
  }
  void Release() {
    Send(Viewport(), QEvent::MouseButtonRelease, QPoint(2, 2), Qt::NoButton);
  }
  void Delete() {
    QTest::keyClick(Controls(form).ListView1, Qt::Key_Delete,
                    Qt::ShiftModifier);
  }

  FormHarness harness;
  Form1& form;
};

const QStringList kFive = {"/p/1.png", "/p/2.png", "/p/3.png", "/p/4.png",
                           "/p/5.png"};

}  // namespace

class FileListTest : public QObject {
  Q_OBJECT

 private slots:
  void AppendKeepsOrderAndDuplicates() {
    Queue q({"/a.png", "/b.png", "/a.png"});
    QCOMPARE(Rows(q.form.Files()), QStringList({"/a.png", "/b.png", "/a.png"}));
  }

  void Removal_data() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("selected");  // 0: none
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("selected row") << kFive.mid(0, 3) << 2 << false
                                  << QStringList({"/p/1.png", "/p/3.png"});
    QTest::newRow("empty list") << QStringList{} << 0 << false << QStringList{};
    QTest::newRow("no selection")
        << kFive.mid(0, 2) << 0 << false << kFive.mid(0, 2);
    QTest::newRow("busy") << kFive.mid(0, 2) << 1 << true << kFive.mid(0, 2);
  }
  void Removal() {
    QFETCH(QStringList, rows);
    QFETCH(int, selected);
    QFETCH(bool, busy);
    QFETCH(QStringList, left);
    for (int way = 0; way < 2; ++way) {
      Queue q(rows);
      if (selected)
        Controls(q.form).ListView1->setCurrentItem(
            Controls(q.form).ListView1->topLevelItem(selected - 1));
      if (busy) q.form.Pointer().Set(WindowPointer::State::kBusy);
      if (way == 0) {
        q.Delete();
      } else {
        Send(q.Viewport(), QEvent::MouseButtonDblClick, QPoint(2, 2));
      }
      QCOMPARE(Rows(q.form.Files()), left);
    }
  }

  void ClearList() {
    Queue q(kFive);
    q.form.Pointer().Set(WindowPointer::State::kBusy);
    Controls(q.form).PushButton4->click();
    QCOMPARE(q.form.Files().Count(), 5);
    q.form.Pointer().Set(WindowPointer::State::kDefault);
    Controls(q.form).PushButton4->click();
    QCOMPARE(q.form.Files().Count(), 0);
    QCOMPARE(q.form.Files().DragItem(), 0);
  }

  void ClickThenDeleteRemovesTheClickedRow() {
    Queue q(kFive);
    q.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&q.form));
    Controls(q.form).PushButton1->setFocus();
    q.Press(4);
    q.Release();
    QVERIFY(Controls(q.form).ListView1->hasFocus());
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::ControlModifier);
    QCoreApplication::sendEvent(QApplication::focusWidget(), &del);
    QCOMPARE(Rows(q.form.Files()),
             QStringList({"/p/1.png", "/p/2.png", "/p/3.png", "/p/5.png"}));
  }

  void FastDragExchangesTwoRows() {
    Queue q(kFive);
    q.Press(2);
    q.MoveTo(5);
    QCOMPARE(Rows(q.form.Files()),
             QStringList(
                 {"/p/1.png", "/p/5.png", "/p/3.png", "/p/4.png", "/p/2.png"}));
    QCOMPARE(q.form.Files().DragItem(), 5);
    q.MoveTo(4);  // the dragged path travels on
    QCOMPARE(q.form.Files().Text(4), QString("/p/2.png"));
    QCOMPARE(q.form.Files().Text(5), QString("/p/4.png"));
    q.Release();
    QVERIFY(!q.form.Files().Dragging());
    q.MoveTo(1);  // no button: no exchange
    QCOMPARE(q.form.Files().Text(1), QString("/p/1.png"));
  }

  void NoExchangeOverTheSamePath() {
    Queue q({"/same.png", "/other.png", "/same.png"});
    q.Press(1);
    q.MoveTo(3);
    QCOMPARE(Rows(q.form.Files()),
             QStringList({"/same.png", "/other.png", "/same.png"}));
    QCOMPARE(q.form.Files().DragItem(), 1);
  }

  void EarlierDragItemIsUsedAfterPressBelowRows() {
    Queue q(kFive);
    q.Press(3);
    q.Release();
    Send(q.Viewport(), QEvent::MouseButtonPress,
         QPoint(5, q.Viewport()->height() - 2));
    q.MoveTo(1);
    QCOMPARE(q.form.Files().Text(1), QString("/p/3.png"));
    QCOMPARE(q.form.Files().Text(3), QString("/p/1.png"));
  }

  void RemovedDragItemCountsAsEmpty() {
    Queue q(kFive);
    q.Press(5);
    q.Release();
    q.Delete();
    QCOMPARE(q.form.Files().DragItem(), 0);
    Send(q.Viewport(), QEvent::MouseButtonPress,
         QPoint(5, q.Viewport()->height() - 2));
    q.MoveTo(1);
    QCOMPARE(Rows(q.form.Files()), kFive.mid(0, 4));
  }

  void DragScrollsNearTheEdges() {
    QStringList many;
    for (int i = 1; i <= 60; ++i) many << QString("/p/%1.png").arg(i);
    Queue q(many);
    QScrollBar* bar = Controls(q.form).ListView1->verticalScrollBar();
    QCOMPARE(bar->value(), 0);
    q.Press(1);
    const int bottom = q.Viewport()->height() - 2;
    Send(q.Viewport(), QEvent::MouseMove, QPoint(5, bottom));
    Send(q.Viewport(), QEvent::MouseMove, QPoint(5, bottom + 40));
    QVERIFY(bar->value() > 0);
    const int scrolled = bar->value();
    Send(q.Viewport(), QEvent::MouseMove, QPoint(5, -30));
    QVERIFY(bar->value() < scrolled);
    // The middle of the list scrolls nothing.
    const int now = bar->value();
    Send(q.Viewport(), QEvent::MouseMove,
         QPoint(5, q.Viewport()->height() / 2));
    QCOMPARE(bar->value(), now);
  }

  void DragPointerFollowsTheIcon() {
    Queue q(kFive);
    q.Press(1);
    QCOMPARE(q.Viewport()->cursor().shape(), Qt::ArrowCursor);  // no icon file
    q.Release();
    QFile::copy(QStringLiteral(BUILD_DIR) + "/drag.ico",
                q.harness.ProgramFolder() + "/drag.ico");
    q.Press(1);
    QCOMPARE(q.Viewport()->cursor().shape(), Qt::BitmapCursor);
    q.Release();
    QCOMPARE(q.Viewport()->cursor().shape(), Qt::ArrowCursor);
  }
};

QTEST_MAIN(FileListTest)
#include "file_list_test.moc"
