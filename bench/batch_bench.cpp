// The whole batch run through Form1, offscreen, against a shell loop of
// lumeconv on the same files, in rounds that take turns (the speed of a
// shared machine drifts by more than the difference), with the window's own
// CPU time per file; then one run watched for its longest pause between
// event pumps (the watch's timer costs the window time of its own), and
// ImageMagick's mogrify when installed. TMPDIR decides the file system.
//   QT_QPA_PLATFORM=offscreen batch_bench CORPUS_DIR LUMECONV [ROUNDS]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "app/form1.h"
#include "base/settings_store.h"
#include "filelist/file_list.h"
#include "gap_watch.h"
#include "median.h"
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

// CPU time of the calling thread so far, in ms.
double ThreadCpuMs() {
  std::ifstream stat("/proc/thread-self/schedstat");
  double ns = 0;
  stat >> ns;
  return ns / 1e6;
}

// Empties the folder of what a round wrote, so that every round creates its
// results afresh.
void RemoveJpegs(const QString& folder) {
  for (const QString& name : QDir(folder).entryList({"*.jpg"}, QDir::Files)) {
    QFile::remove(folder + "/" + name);
  }
}

// Nanoseconds for lumeconv on every file, one after another, from sh.
qint64 ShellLoop(const QString& lumeconv, const QStringList& files) {
  QElapsedTimer clock;
  clock.start();
  QProcess::execute("sh",
                    QStringList{"-c",
                                "c=$1; shift; for f; do \"$c\" -q 85 -out jpeg "
                                "\"$f\"; done",
                                "sh", lumeconv} +
                        files);
  return clock.nsecsElapsed();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: batch_bench CORPUS_DIR LUMECONV [ROUNDS]\n");
    return 2;
  }
  const QString corpus = argv[1];
  const QString lumeconv = argv[2];
  const int rounds = argc == 4 ? std::max(1, std::atoi(argv[3])) : 5;
  QTemporaryDir dir;
  std::printf("%-16s %6s %9s %9s %7s %9s %10s %12s\n", "class", "files",
              "run ms", "loop ms", "ratio", "window", "mogrify ms",
              "longest gap");
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

    std::vector<double> runs, loops, ratios, window_cpu;
    for (int round = 0; round < rounds; ++round) {
      double run = 0;
      double loop = 0;
      // Odd rounds start with the loop: neither side always goes first.
      for (int side = 0; side < 2; ++side) {
        if ((side == 0) == (round % 2 == 0)) {
          RemoveJpegs(out);
          QElapsedTimer clock;
          const double cpu = ThreadCpuMs();
          clock.start();
          form.PushButton2_Click();
          run = MsPerFile(clock.nsecsElapsed(), files.size());
          window_cpu.push_back((ThreadCpuMs() - cpu) / files.size());
        } else {
          RemoveJpegs(dir.filePath(kind));
          loop = MsPerFile(ShellLoop(lumeconv, files), files.size());
        }
      }
      runs.push_back(run);
      loops.push_back(loop);
      ratios.push_back(run / loop);
    }
    RemoveJpegs(out);
    qint64 longest_gap = 0;
    {
      const GapWatch gaps;
      form.PushButton2_Click();
      longest_gap = gaps.Longest();
    }
    QString mogrify = "-";
    if (!QStandardPaths::findExecutable("mogrify").isEmpty()) {
      const QString mog_out = dir.filePath(kind + "-mogrify");
      QDir().mkpath(mog_out);
      QElapsedTimer clock;
      clock.start();
      QProcess::execute("mogrify", QStringList{"-path", mog_out, "-format",
                                               "jpg", "-quality", "85"} +
                                       files);
      mogrify = QString::number(MsPerFile(clock.nsecsElapsed(), files.size()),
                                'f', 1);
    }
    std::printf("%-16s %6lld %9.2f %9.2f %7.3f %6.2f ms %10s %9lld ms  (%s)\n",
                qPrintable(kind), static_cast<long long>(files.size()),
                Median(runs), Median(loops), Median(ratios), Median(window_cpu),
                qPrintable(mogrify), static_cast<long long>(longest_gap),
                qPrintable(dialogs.last_message.section('\n', 0, 0)));
  }
  return 0;
}
