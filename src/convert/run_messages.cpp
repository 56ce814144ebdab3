#include "convert/run_messages.h"

#include <QDir>
#include <cstring>

namespace {

constexpr int kListedLines = 10;
// lumeconv's exit code for a JPEG it cannot write.
constexpr int kConverterCannotWrite = 7;

QString Native(const QString& path) { return QDir::toNativeSeparators(path); }

// A box wraps lines at blanks only: a longer run without one (a deep
// path) is shortened in the middle, where its folders are, so that the
// box fits the screen; the start and the file's name stay.
constexpr int kLongestRun = 60;

QString ElidedInTheMiddle(const QString& line) {
  QStringList words = line.split(' ');
  for (QString& word : words) {
    if (word.size() <= kLongestRun) continue;
    const int head = kLongestRun / 3;
    word = word.left(head) + QChar(0x2026) + word.right(kLongestRun - head - 1);
  }
  return words.join(' ');
}

// A header line and at most ten lines of a list, then how many more.
QString Section(const QString& header, const QStringList& lines) {
  QString text = "\n\n" + header;
  for (const QString& line : lines.mid(0, kListedLines)) {
    text += "\n" + ElidedInTheMiddle(line);
  }
  if (lines.size() > kListedLines) {
    text += QString("\nand %1 more.").arg(lines.size() - kListedLines);
  }
  return text;
}

// What the converter said of its working copy, told of the user's file:
// "lumeconv: .../temp.png: is truncated" becomes "the file is truncated".
QString ConverterSaid(const QString& line, const QString& working_copy) {
  const QString prefix = "lumeconv: " + working_copy + ": ";
  if (!line.startsWith(prefix)) return line;
  const QString said = line.mid(prefix.size());
  return said.startsWith("is ") ? "the file " + said : said;
}

}  // namespace

// Why a converter run left no JPEG. The working folder is named where
// people can find it, never by the path the program reaches it through.
QString ConverterFailure(int result, const RunnerOutcome& outcome,
                         const QString& working_copy, const QString& folder,
                         const QString& location) {
  if (outcome.signal != 0) {
    return QString("the converter was stopped by signal %1 (%2)")
        .arg(outcome.signal)
        .arg(QString::fromLocal8Bit(::strsignal(outcome.signal)));
  }
  if (result < 0) return "the converter could not be started";
  QString said = ConverterSaid(outcome.first_error_line, working_copy);
  said.replace(folder + "/", Native(location) + QDir::separator());
  const QString what =
      result == kConverterCannotWrite
          ? QString(
                "the converter could not write its JPEG in the working "
                "folder %1 (exit code %2)")
                .arg(Native(location))
                .arg(result)
          : QString("the converter failed (exit code %1)").arg(result);
  return what + (said.isEmpty() ? QString() : ": " + said);
}

QString DoneMessage(int files, const QStringList& failures,
                    const QStringList& replaced) {
  QString text = "Done.";
  if (!failures.isEmpty()) {
    text += Section(QString("%1 of %2 files could not be converted:")
                        .arg(failures.size())
                        .arg(files),
                    failures);
  }
  if (!replaced.isEmpty()) {
    text += Section(QString("%1 of %2 results were replaced by a later file "
                            "with the same name:")
                        .arg(replaced.size())
                        .arg(files),
                    replaced);
  }
  return text;
}

QString DoneDetails(const QStringList& failures, const QStringList& replaced) {
  QStringList parts;
  if (!failures.isEmpty()) {
    parts << "Not converted:\n" + failures.join('\n');
  }
  if (!replaced.isEmpty()) {
    parts << "Replaced by a later file with the same name:\n" +
                 replaced.join('\n');
  }
  return parts.join("\n\n");
}
