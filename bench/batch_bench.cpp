// The whole batch run through Form1, offscreen, against lumeconv alone in a
// plain loop and ImageMagick's mogrify when installed.
//   QT_QPA_PLATFORM=offscreen batch_bench CORPUS_DIR LUMECONV
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

#include "app/form1.h"
#include "base/settings_store.h"
#include "filelist/file_list.h"
#include "gap_watch.h"
#include "silent_dialogs.h"
#include "support/controls.h"

namespace {

QStringList Copy(const QString& corpus, const QString& kind,
                 const QString& into) {
  QDir().mkpath(into);
  QStringList copies;
  for (const QString& name :
       QDir(corpus).entryList({kind + "-*.png"}, QDir::Files, QDir::Name)) {
    QFile::copy(corpus + "/" + name, into + "/" + name);
    copies << into + "/" + name;
  }
  return copies;
}

double MsPerFile(qint64 ns, int files) { return ns / 1e6 / files; }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: batch_bench CORPUS_DIR LUMECONV\n");
    return 2;
  }
  const QString corpus = argv[1];
  const QString lumeconv = argv[2];
  QTemporaryDir dir;
  std::printf("%-16s %6s %10s %10s %6s %10s %12s\n", "class", "files", "run ms",
              "alone ms", "ratio", "mogrify ms", "longest gap");
  for (const QString kind : {"rgb-64x64", "rgb-1920x1080"}) {
    const QStringList files = Copy(corpus, kind, dir.filePath(kind));
    const QString out = dir.filePath(kind + "-out");
    QDir().mkpath(out);

    SilentDialogs dialogs;
    const SettingsStore store(dir.filePath(kind + ".ini"));
    Form1 form({dialogs, store, dir.path(), [] { return 0.5; }});
    form.Form_Load();
    Controls(form).Text2->setText(out);
    form.ShowCentred();
    for (const QString& f : files) form.Files().Append(f);
    qint64 longest_gap = 0;
    QElapsedTimer clock;
    {
      const GapWatch gaps;
      clock.start();
      form.PushButton2_Click();
      longest_gap = gaps.Longest();
    }
    const qint64 run_ns = clock.nsecsElapsed();

    clock.restart();
    for (const QString& f : files) {
      QProcess::execute(lumeconv, {"-q", "85", "-out", "jpeg", f});
    }
    const qint64 alone_ns = clock.nsecsElapsed();

    QString mogrify = "-";
    if (!QStandardPaths::findExecutable("mogrify").isEmpty()) {
      const QString mog_out = dir.filePath(kind + "-mogrify");
      QDir().mkpath(mog_out);
      clock.restart();
      QProcess::execute("mogrify", QStringList{"-path", mog_out, "-format",
                                               "jpg", "-quality", "85"} +
                                       files);
      mogrify = QString::number(MsPerFile(clock.nsecsElapsed(), files.size()),
                                'f', 1);
    }
    const double run = MsPerFile(run_ns, files.size());
    const double alone = MsPerFile(alone_ns, files.size());
    std::printf("%-16s %6lld %10.1f %10.1f %6.2f %10s %9lld ms  (%s)\n",
                qPrintable(kind), static_cast<long long>(files.size()), run,
                alone, run / alone, qPrintable(mogrify),
                static_cast<long long>(longest_gap),
                qPrintable(dialogs.last_message.section('\n', 0, 0)));
  }
  return 0;
}
