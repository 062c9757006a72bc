#include <gtest/gtest.h>

#include <QDateTime>
#include <algorithm>
#include <string>
#include <tuple>

#include "core/line_cleaning.h"
#include "core/texts.h"
#include "tests/fault/fault_support.h"

namespace parlotrim::testing {

void AgeAll(const LogFolder& f) {
#ifdef Q_OS_WIN
  for (const NativeName& name : f.entries()) {
    QFile file(Path(f, name));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
  }
#else
  ASSERT_TRUE(f.run("find . -mindepth 1 -exec touch -d '1 hour ago' {} +"));
#endif
}

namespace {

void Append(const LogFolder& f, const NativeName& name, const QByteArray& bytes) {
  QFile file(Path(f, name));
  ASSERT_TRUE(file.open(QIODevice::Append));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

std::string Describe(const QByteArray& now, const QByteArray& old, const QByteArray& rewritten) {
  auto same = [&now](const QByteArray& other) {
    return std::to_string(std::mismatch(now.begin(), now.end(), other.begin(), other.end()).first -
                          now.begin());
  };
  return "the log has " + std::to_string(now.size()) + " bytes (old " + std::to_string(old.size()) +
         ", new " + std::to_string(rewritten.size()) + "); its first " + same(rewritten) +
         " are the new ones, its first " + same(old) + " the old ones";
}

}  // namespace

void RunCrashTable(const CrashDisk& disk) {
  // Where it dies: at a phase, or at this write over the log instead.
  const std::tuple<const char*, std::optional<Phase>, int> kills[] = {
      {"copy written", Phase::CopyWritten, 0},
      {"copy named", Phase::CopyNamed, 0},
      {"log sized", Phase::LogSized, 0},
      {"copy sized", Phase::CopySized, 0},
      {"second write over the log", std::nullopt, 2},
      {"third write over the log", std::nullopt, 3},
      {"log written", Phase::LogWritten, 0}};
  // The log and whether it shrinks: 1 MiB writes over a large log, a first write ending mid-block.
  const QByteArray large = MakeLog(7 << 19);
  const std::tuple<const char*, QByteArray, bool> subjects[] = {
      {"grows", large, false}, {"shrinks", large, true}, {"shrinks, small", MakeLog(10000), true}};
  for (const auto& [name, log, clean] : subjects) {
    const bool small = log.size() < (1 << 20);
    const QByteArray rewritten = BuildConvertedText(log, Module1{clean, clean}) + "\r\n";
    ASSERT_TRUE(small ? rewritten.size() % 512 != 2 : rewritten.size() > 2 << 20);
    // Lines appended after the crash, among them the very bytes that the cut removes.
    QList<QByteArray> appendings = {QByteArray(), "\r\nlater\r\n"};
    if (clean) appendings << log.sliced(rewritten.size());
    for (const auto& [what, phase, logWrite] : kills) {
      if (small && logWrite > 2) continue;
      for (const QByteArray& appended : appendings) {
        // The next start dies too; the disk kept the old copy's removal, not an unsynced rename.
        const bool reordered = kPosix && appended.isEmpty() == clean;
        SCOPED_TRACE(std::string(what) + ", " + name + ", " + std::to_string(appended.size()) +
                     " bytes appended" + (reordered ? ", reordered" : ""));
        Session s(disk.parent);
        s.folder.write("log.txt", log);
        ASSERT_TRUE(s.Load("log.txt", clean));
        FaultyCalls calls(Faults::None, phase, logWrite);
        const Child child = RunInChild([&] {
          s.Run(Op::Change, &calls);
          const Box& box = s.window.boxes.back();
          return (box.title + u' ' + box.prompt).toStdString();
        });
        // Killed, or a real write failure (FAT through FUSE under load): the next start ends so.
        EXPECT_TRUE(child.killed || (disk.real && child.output.rfind("Err:", 0) == 0))
            << "the rewrite ended: " << child.output;
        // A named copy is finished from; a failure before the log was touched leaves it old.
        const bool finished =
            child.killed ? phase != Phase::CopyWritten
                         : child.output.find(texts::kLogDamaged.toStdString()) != std::string::npos;
        SCOPED_TRACE(child.killed ? "killed" : child.output);
        ASSERT_TRUE(disk.remount());
        Append(s.folder, "log.txt", appended);
        AgeAll(s.folder);
        const QByteArray crashed = s.folder.read("log.txt");
        FaultyCalls dies(reordered ? Faults::ReorderedFolder : Faults::None, Phase::CopyNamed);
        RunInChild([&] {
          FileStore(dies).FinishInterruptedRewrites(s.folder.path());
          return std::string();
        });
        FaultyCalls next(Faults::ShortCalls);  // the run after: reads and writes come short
        FileStore(next).FinishInterruptedRewrites(s.folder.path());
        s.window.boxes.clear();
        const QByteArray now = s.folder.read("log.txt");
        if (s.Load("log.txt", clean) || !disk.real) {
          EXPECT_TRUE(now == (finished ? rewritten : log) + appended)
              << Describe(now, log + appended, rewritten + appended);
          EXPECT_EQ(s.folder.entries(), QList<NativeName>{"log.txt"});
        } else {  // the copy is kept, the user told, and the log left old or new as it was
          EXPECT_TRUE(!s.window.boxes.empty() && s.window.boxes.back().title.startsWith("Err:"));
          EXPECT_TRUE(now == crashed) << "the load that refused changed the log";
          EXPECT_TRUE(now == log || now == rewritten) << Describe(now, log, rewritten);
        }
      }
    }
  }
}

}  // namespace parlotrim::testing
