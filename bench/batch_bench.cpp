// The whole batch run through Form1, offscreen, against a shell loop of
// lumeconv on the same files, in rounds that take turns (the speed of a
// shared machine drifts by more than the difference), with the window's own
// CPU time per file, and against the floor: the copies and removals a run
// must make around each conversion, done with the run's own copy routine
// and nothing else (no window, no events, no checks); then one run watched for
// its longest pause between event pumps (the watch's timer costs the window
// time of its own), and ImageMagick's mogrify when installed. TMPDIR decides
// the file system.
//   QT_QPA_PLATFORM=offscreen batch_bench CORPUS_DIR LUMECONV [ROUNDS]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
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
#include "util/file_writers.h"

extern char** environ;

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

// Nanoseconds for the least a run does per file: the source copied to
// temp.png in `work`, lumeconv run on it, temp.jpg copied to `out` and both
// working files removed.
qint64 Floor(const QString& lumeconv, const QStringList& files,
             const QString& work, const QString& out) {
  const QString png = work + "/temp.png";
  const QString jpg = work + "/temp.jpg";
  const QByteArray program = QFile::encodeName(lumeconv);
  const QByteArray input = QFile::encodeName(png);
  std::array<char*, 7> args = {const_cast<char*>(program.constData()),
                               const_cast<char*>("-q"),
                               const_cast<char*>("85"),
                               const_cast<char*>("-out"),
                               const_cast<char*>("jpeg"),
                               const_cast<char*>(input.constData()),
                               nullptr};
  QElapsedTimer clock;
  clock.start();
  for (const QString& file : files) {
    CopyFileQuiet(file, png);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) ==
        0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
    CopyFileQuiet(jpg, out + "/" + QFileInfo(file).completeBaseName() + ".jpg");
    ::unlink(QFile::encodeName(jpg).constData());
    ::unlink(input.constData());
  }
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
  std::printf("%-16s %6s %9s %9s %9s %7s %7s %9s %10s %12s\n", "class", "files",
              "run ms", "loop ms", "floor ms", "ratio", "floor", "window",
              "mogrify ms", "longest gap");
  for (const QString kind : {"rgb-64x64", "rgb-1920x1080"}) {
    const QStringList files = Copy(corpus, kind, dir.filePath(kind));
    const QString out = dir.filePath(kind + "-out");
    const QString floor_work = dir.filePath(kind + "-floor-work");
    const QString floor_out = dir.filePath(kind + "-floor-out");
    for (const QString& made : {out, floor_work, floor_out}) {
      QDir().mkpath(made);
    }

    SilentDialogs dialogs;
    const SettingsStore store(dir.filePath(kind + ".ini"));
    Form1 form({dialogs, store, dir.path(), [] { return 0.5; }});
    form.Form_Load();
    Controls(form).Text2->setText(out);
    form.ShowCentred();
    for (const QString& f : files) form.Files().Append(f);

    std::vector<double> runs, loops, floors, ratios, floor_ratios, window_cpu;
    for (int round = 0; round < rounds; ++round) {
      double run = 0;
      double loop = 0;
      double floor = 0;
      // Each round starts with another side: none always goes first.
      for (int turn = 0; turn < 3; ++turn) {
        const int side = (round + turn) % 3;
        if (side == 0) {
          RemoveJpegs(out);
          QElapsedTimer clock;
          const double cpu = ThreadCpuMs();
          clock.start();
          form.PushButton2_Click();
          run = MsPerFile(clock.nsecsElapsed(), files.size());
          window_cpu.push_back((ThreadCpuMs() - cpu) / files.size());
        } else if (side == 1) {
          RemoveJpegs(dir.filePath(kind));
          loop = MsPerFile(ShellLoop(lumeconv, files), files.size());
        } else {
          RemoveJpegs(floor_out);
          floor = MsPerFile(Floor(lumeconv, files, floor_work, floor_out),
                            files.size());
        }
      }
      runs.push_back(run);
      loops.push_back(loop);
      floors.push_back(floor);
      ratios.push_back(run / loop);
      floor_ratios.push_back(floor / loop);
    }
    RemoveJpegs(floor_out);
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
    std::printf(
        "%-16s %6lld %9.2f %9.2f %9.2f %7.3f %7.3f %6.2f ms %10s %9lld ms  "
        "(%s)\n",
        qPrintable(kind), static_cast<long long>(files.size()), Median(runs),
        Median(loops), Median(floors), Median(ratios), Median(floor_ratios),
        Median(window_cpu), qPrintable(mogrify),
        static_cast<long long>(longest_gap),
        qPrintable(dialogs.last_message.section('\n', 0, 0)));
  }
  return 0;
}
