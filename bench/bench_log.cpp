// Times the load, Change and Save and HTML Save of a large chat log, whole operation, against
// GNU tac reading the same file (on Windows, against the floor: ReadFile of the whole log into
// one block for the load, and that block also written to a new file and synced for the saves),
// and reports the peak memory of each operation.
//
//   bench_log [MB] [runs] [sjis|utf8|utf16]
//
// The log is in Shift JIS (the default), UTF-8 without a byte order mark, or UTF-16 LE with
// one: the same chat, so that the encodings' figures can be set side by side.
// Two logs are made in a temporary folder (TMPDIR, else /tmp): MB megabytes (default 100,
// 1 MB = 10^6 bytes) and a tenth of that. Each operation runs in a child process of its own so
// that its peak resident set (VmHWM, or the peak working set) is its own; times are the best of `runs` rounds (default
// 5) with the page cache warm. Change and Save rewrites the log, so the log is restored from a
// pristine copy before each of its runs, outside the timing.

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#endif

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <thread>

#include "bench/bench_system.h"
#include "bench/noop_window.h"
#include "core/log_operations.h"
#include "core/module1.h"
#include "platform/file_store.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace parlotrim::bench {
namespace {

constexpr double kMB = 1e6;
constexpr double kLoadVsTac = 1.5;
#ifdef _WIN32
// Under Wine: each save at most twice the floor's rewrite.
constexpr double kSaveVsFloor = 2.0;
const char* const kFloorName = "floor";
#else
constexpr double kSaveVsFloor = 1.0;
const char* const kFloorName = "tac";
#endif
constexpr double kPeakVsSize = 3.0;
constexpr double kScaleLimit = 12.0;


// The folder of the logs, removed also when the bench gives up.
QTemporaryDir* g_root = nullptr;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_log: %s\n", what.c_str());
  if (g_root) g_root->remove();
  std::exit(2);
}

// ---------------------------------------------------------------------------------------------
// The chat log: lines "speaker＞message" in windows-31j, some with an ASCII time at the end,
// a few blank lines and "----" separators, CR LF line ends. Deterministic for a given size.

class Rng {  // splitmix64
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

// Each speaker's name followed by "＞".
const char* const kSpeakers[] = {
    "\x82\xB3\x82\xAD\x82\xE7\x81\x84",  // さくら＞
    "\x82\xBD\x82\xEB\x82\xA4\x81\x84",  // たろう＞
    "\x82\xCD\x82\xC8\x82\xB1\x81\x84",  // はなこ＞
    "\x82\xAF\x82\xF1\x82\xB6\x81\x84",  // けんじ＞
    "\x82\xE4\x82\xA4\x82\xAB\x81\x84",  // ゆうき＞
    "\x82\xDD\x82\xC7\x82\xE8\x81\x84",  // みどり＞
};
// The keyword of HTML Save: the first speaker, so about one line in six is emphasised.
const QString kKeyword = QStringLiteral("さくら");

// 、 。 ！ ？ ー 「 」
const unsigned char kPunctuation[][2] = {{0x81, 0x41}, {0x81, 0x42}, {0x81, 0x49}, {0x81, 0x48},
                                         {0x81, 0x5B}, {0x81, 0x75}, {0x81, 0x76}};

void PutDouble(std::string& out, unsigned lead, unsigned trail) {
  out += static_cast<char>(lead);
  out += static_cast<char>(trail);
}

// A trail byte in 0x40..0xFC without 0x7F, drawn from `count` values starting at 0x40.
unsigned Trail(Rng& rng, int count) {
  unsigned t = 0x40u + static_cast<unsigned>(rng.Below(count));
  return t >= 0x7F ? t + 1 : t;
}

void PutMessage(Rng& rng, std::string& out) {
  const int characters = 4 + rng.Below(24);
  for (int i = 0; i < characters; ++i) {
    const int kind = rng.Below(100);
    if (kind < 55) {  // hiragana ぁ..ん
      PutDouble(out, 0x82, 0x9Fu + static_cast<unsigned>(rng.Below(0xF1 - 0x9F + 1)));
    } else if (kind < 70) {  // katakana ァ..ヶ
      PutDouble(out, 0x83, Trail(rng, 86));
    } else if (kind < 85) {  // level 1 kanji, rows 0x89..0x97
      PutDouble(out, 0x89u + static_cast<unsigned>(rng.Below(15)), Trail(rng, 188));
    } else if (kind < 93) {  // an ASCII word or number
      const bool digits = rng.Below(3) == 0;
      const int length = 2 + rng.Below(5);
      for (int j = 0; j < length; ++j)
        out += digits ? static_cast<char>('0' + rng.Below(10))
                      : static_cast<char>('a' + rng.Below(26));
    } else {
      const auto& p = kPunctuation[rng.Below(std::size(kPunctuation))];
      PutDouble(out, p[0], p[1]);
    }
  }
}

void PutLine(Rng& rng, std::string& out) {
  const int kind = rng.Below(100);
  if (kind < 3) {
    // blank line
  } else if (kind < 5) {
    out += rng.Below(5) == 0 ? "--------------------" : "----";
  } else {
    out += kSpeakers[rng.Below(std::size(kSpeakers))];
    PutMessage(rng, out);
    if (rng.Below(10) < 3) {
      char time[16];
      std::snprintf(time, sizeof time, " (%02d:%02d)", rng.Below(24), rng.Below(60));
      out += time;
    }
  }
  out += "\r\n";
}

void WriteAll(QFile& file, const std::string& data) {
  if (file.write(data.data(), qint64(data.size())) != qint64(data.size()))
    Die("write " + file.fileName().toStdString() + ": " + file.errorString().toStdString());
}

void SyncAndClose(QFile& file) {
  const QString path = file.fileName();
  if (!file.flush()) Die("write " + path.toStdString());
  file.close();
  if (!SyncFile(path)) Die("sync " + path.toStdString());
}

struct LogStats {
  int64_t bytes = 0;
  int64_t lines = 0;
};

enum class Encoding { ShiftJis, Utf8, Utf16 };
Encoding g_encoding = Encoding::ShiftJis;

const char* EncodingName(Encoding e) {
  return e == Encoding::ShiftJis ? "Shift JIS" : e == Encoding::Utf8 ? "UTF-8" : "UTF-16 LE";
}

// What the program writes around the cleaned text of Change and Save: the byte order mark and
// one more CR LF.
int64_t RewriteFraming() {
  return g_encoding == Encoding::Utf16 ? 6 : 2;
}

// Lines made in Shift JIS, in the log's encoding.
std::string Encoded(const std::string& shiftJis) {
  if (g_encoding == Encoding::ShiftJis) return shiftJis;
  QStringDecoder decoder("windows-31j");
  const QString text = decoder.decode(QByteArrayView(shiftJis.data(), qsizetype(shiftJis.size())));
  QStringEncoder encoder(g_encoding == Encoding::Utf8 ? QStringConverter::Utf8
                                                      : QStringConverter::Utf16LE);
  const QByteArray bytes = encoder.encode(text);
  return std::string(bytes.constData(), size_t(bytes.size()));
}

// Writes whole lines until the file holds at least `bytes` bytes. Lines are made in Shift JIS
// and put into the log's encoding some 64 KB at a time.
LogStats MakeLog(const std::string& path, int64_t bytes) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) Die("create " + path);
  Rng rng(0x5A17C0DEull);
  LogStats stats;
  std::string buffer, lines;
  if (g_encoding == Encoding::Utf16) buffer = "\xff\xfe";
  stats.bytes = int64_t(buffer.size());
  constexpr size_t kBlock = 1 << 20;
  const size_t chunk = g_encoding == Encoding::ShiftJis ? 1 : 64 << 10;
  buffer.reserve(kBlock + 4096);
  while (stats.bytes < bytes) {
    PutLine(rng, lines);
    ++stats.lines;
    if (lines.size() < chunk) continue;
    const std::string encoded = Encoded(lines);
    lines.clear();
    buffer += encoded;
    stats.bytes += static_cast<int64_t>(encoded.size());
    if (buffer.size() >= kBlock) {
      WriteAll(file, buffer);
      buffer.clear();
    }
  }
  WriteAll(file, buffer);
  SyncAndClose(file);
  return stats;
}

// Puts the pristine log back in place and syncs it, so that no write-back of the copy runs
// during the next timed operation.
void CopyFile(const std::string& from, const std::string& to) {
  if (!CopySynced(QString::fromStdString(from), QString::fromStdString(to)))
    Die("cannot copy " + from + " to " + to);
}

int64_t FileSize(const std::string& path) {
  const QFileInfo info(QString::fromStdString(path));
  return info.exists() ? static_cast<int64_t>(info.size()) : -1;
}

// ---------------------------------------------------------------------------------------------
// Measurement.

struct Sample {
  bool ok = false;
  double seconds = 0;
  long startKb = 0;  // resident set when the operation began (the process's own base)
  long peakKb = 0;   // resident set high-water mark of the process
  int64_t text1Bytes = 0;
  char failure[512] = {};
};

void SetFailure(Sample* sample, const std::string& text) {
  std::snprintf(sample->failure, sizeof sample->failure, "%s", text.c_str());
}

enum class Operation { Load, ChangeAndSave, HtmlSave };

const char* OperationName(Operation op) {
  switch (op) {
    case Operation::Load:
      return "load";
    case Operation::ChangeAndSave:
      return "Change and Save";
    case Operation::HtmlSave:
      return "HTML Save";
  }
  return "";
}

// A name as the file store takes it.
NativeName Native(const QString& name) {
#ifdef _WIN32
  return QDir::toNativeSeparators(name);
#else
  return QFile::encodeName(name);
#endif
}

// One run of a log operation through the core, in the child.
void TimeOperation(Operation op, const QString& folder, const QString& logName, Sample* sample) {
  SystemCalls disk;
  FileStore files(disk);
  Module1 module;
  NoopWindow window(Native(logName));
  LogOperations operations(window, files, Native(folder), module);
  // Change and Save and HTML Save clean with the answers of the last load; the window answers
  // OK to both questions.
  module.NullDelete = true;
  module.LineDelete = true;
  window.check1 = 1;
  window.text3 = kKeyword;

  const Clock::time_point start = Clock::now();
  switch (op) {
    case Operation::Load:
      operations.LoadSequence();
      break;
    case Operation::ChangeAndSave:
      operations.Command1_Click();
      break;
    case Operation::HtmlSave:
      operations.Command3_Click();
      break;
  }
  sample->seconds = SecondsSince(start);
  sample->text1Bytes = window.text1.size();
  sample->ok = !window.failed;
  if (window.failed) SetFailure(sample, window.failure.toStdString());
}

// In a child: the operation args[1] on the log args[3] of the folder args[2]; or with args[0]
// "floor", the floor (args[1] "save" for the rewrite) on the log args[2], written to args[3].
void ChildBody(const QStringList& args, void* memory, size_t) {
  Sample* sample = new (memory) Sample;
  sample->startKb = ResidentKb();
  if (args.size() != 4) {
    SetFailure(sample, "bad arguments");
  } else if (args[0] == QLatin1String("floor")) {
#ifdef _WIN32
    sample->seconds = FloorSeconds(args[1] == QLatin1String("save"), args[2], args[3]);
    sample->ok = sample->seconds >= 0;
    if (!sample->ok) SetFailure(sample, "the floor failed");
#endif
  } else {
    TimeOperation(static_cast<Operation>(std::clamp(args[1].toInt(), 0, 2)), args[2], args[3],
                  sample);
  }
  sample->peakKb = PeakResidentKb();
}

Sample RunInChild(const QStringList& args) {
  Sample sample;
  if (!RunChild(ChildBody, args, &sample, sizeof sample)) {
    sample = Sample();
    SetFailure(&sample, "the child process did not finish");
  }
  return sample;
}

Sample RunOperation(Operation op, const QString& folder, const QString& logName) {
  return RunInChild({QStringLiteral("op"), QString::number(int(op)), folder, logName});
}

#ifdef _WIN32
// The floor in a child: the read alone, or the read and the rewrite into to.
Sample TimeFloor(const std::string& path, bool save, const std::string& to) {
  return RunInChild({QStringLiteral("floor"), QLatin1String(save ? "save" : "read"),
                     QString::fromStdString(path), QString::fromStdString(to)});
}
#else
// `tac path > /dev/null`.
Sample TimeTac(const std::string& path) {
  Sample sample;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = "tac";
  std::string argument = path;
  char* argv[] = {program.data(), argument.data(), nullptr};
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, "tac", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    SetFailure(&sample, std::string("cannot run tac: ") + std::strerror(spawned));
    return sample;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  sample.seconds = SecondsSince(start);
  sample.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!sample.ok) SetFailure(&sample, "tac failed (is GNU coreutils installed?)");
  return sample;
}

Sample TimeFloor(const std::string& path, bool, const std::string&) {
  return TimeTac(path);
}
#endif

// Best time and worst peak over the runs of one operation on one log.
struct Figures {
  double seconds = std::numeric_limits<double>::infinity();
  long peakKb = 0;
  long startKb = 0;
  bool ok = true;
  std::string failure;

  void Add(const Sample& sample) {
    if (!sample.ok) {
      if (ok) failure = sample.failure;
      ok = false;
      return;
    }
    seconds = std::min(seconds, sample.seconds);
    peakKb = std::max(peakKb, sample.peakKb);
    startKb = std::max(startKb, sample.startKb);
  }
};

struct SizeResult {
  double megabytes = 0;  // as asked
  LogStats log;
  Figures tac;      // tac, or on Windows the floor's read
  Figures rewrite;  // on Windows, the floor's read and rewrite
  Figures ops[3];   // by Operation

  Figures& Of(Operation op) { return ops[static_cast<int>(op)]; }
  const Figures& Of(Operation op) const { return ops[static_cast<int>(op)]; }
};

constexpr Operation kOperations[] = {Operation::Load, Operation::ChangeAndSave,
                                     Operation::HtmlSave};

SizeResult RunSize(const QString& root, double megabytes, int runs) {
  SizeResult result;
  result.megabytes = megabytes;
  const QString folder = root + QStringLiteral("/%1MB/").arg(megabytes);
  if (!QDir().mkpath(folder)) Die("cannot create " + folder.toStdString());
  const QString logName = QStringLiteral("chat.txt");
  const std::string log = (folder + logName).toStdString();
  const std::string html = (folder + QStringLiteral("chat.html")).toStdString();
  const std::string pristine =
      (root + QStringLiteral("/pristine-%1MB.dat").arg(megabytes)).toStdString();

  std::printf("making a %g MB log ... ", megabytes);
  std::fflush(stdout);
  result.log = MakeLog(pristine, static_cast<int64_t>(megabytes * kMB));
  CopyFile(pristine, log);
  std::printf("%lld bytes, %lld lines\n", static_cast<long long>(result.log.bytes),
              static_cast<long long>(result.log.lines));

  const std::string floorOut = (folder + QStringLiteral("floor.dat")).toStdString();
  // One untimed pass each so that the log and the code are warm.
  TimeFloor(log, false, floorOut);
  RunOperation(Operation::Load, folder, logName);

  // Rounds interleave tac and the operations so that all see the same state of the machine.
  for (int run = 0; run < runs; ++run) {
    result.tac.Add(TimeFloor(log, false, floorOut));
#ifdef _WIN32
    result.rewrite.Add(TimeFloor(log, true, floorOut));
    QFile::remove(QString::fromStdString(floorOut));
#endif
    for (Operation op : kOperations) {
      if (op == Operation::ChangeAndSave) CopyFile(pristine, log);
      Sample sample = RunOperation(op, folder, logName);
      // What was written must be the text handed to the window, plus the framing.
      if (sample.ok && op == Operation::ChangeAndSave &&
          FileSize(log) != sample.text1Bytes + RewriteFraming()) {
        sample.ok = false;
        SetFailure(&sample, "the rewritten log is not the working text and its framing");
      }
      if (sample.ok && op == Operation::HtmlSave && FileSize(html) <= sample.text1Bytes) {
        sample.ok = false;
        SetFailure(&sample, "the document is not longer than its body");
      }
      result.Of(op).Add(sample);
    }
    CopyFile(pristine, log);
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Report.

double Mb(long kb) {
  return static_cast<double>(kb) * 1024.0 / kMB;
}

// What an operation is held against: tac; on Windows the floor's read for the load, its
// rewrite for the saves.
const Figures& FloorOf(const SizeResult& r, Operation op) {
#ifdef _WIN32
  if (op != Operation::Load) return r.rewrite;
#else
  Q_UNUSED(op);
#endif
  return r.tac;
}

void PrintFloor(const char* name, const Figures& f, const Figures& against, double size) {
  if (f.ok)
    std::printf("  %-16s %9.3f %9.1f %8.2f %10s %8s %9s\n", name, f.seconds, size / f.seconds,
                against.ok ? f.seconds / against.seconds : 0.0, "-", "-", "-");
  else
    std::printf("  %-16s failed: %s\n", name, f.failure.c_str());
}

void PrintTable(const SizeResult& r, int runs) {
  const double size = static_cast<double>(r.log.bytes) / kMB;
  std::printf("\n%g MB %s log (%.2f MB, %lld lines), best of %d, page cache warm\n", r.megabytes,
              EncodingName(g_encoding), size, static_cast<long long>(r.log.lines), runs);
  std::printf("  %-16s %9s %9s %8s %10s %8s %9s\n", "", "time s", "MB/s",
              (std::string("x ") + kFloorName).c_str(), "peak MB", "x size", "base MB");
  // tac's own peak cannot be told apart from this process's: a spawned child's high-water
  // mark starts from its parent's. The floor's is its log's size.
#ifdef _WIN32
  PrintFloor("floor read", r.tac, r.tac, size);
  PrintFloor("floor rewrite", r.rewrite, r.rewrite, size);
#else
  PrintFloor("tac", r.tac, r.tac, size);
#endif
  for (Operation op : kOperations) {
    const Figures& f = r.Of(op);
    if (!f.ok) {
      std::printf("  %-16s failed: %s\n", OperationName(op), f.failure.c_str());
      continue;
    }
    std::printf("  %-16s %9.3f %9.1f %8.2f %10.1f %8.2f %9.1f\n", OperationName(op), f.seconds,
                size / f.seconds,
                FloorOf(r, op).ok ? f.seconds / FloorOf(r, op).seconds : 0.0, Mb(f.peakKb),
                Mb(f.peakKb) / size, Mb(f.startKb));
  }
}

const char* Verdict(bool met) {
  return met ? "met" : "MISSED";
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

void PrintTarget(Operation op, const std::string& target, bool measured, double value, bool met) {
  if (measured)
    std::printf("  %-16s %-30s %7.2f x  %s\n", OperationName(op), target.c_str(), value,
                Verdict(met));
  else
    std::printf("  %-16s %-30s %9s  %s\n", OperationName(op), target.c_str(), "-", Verdict(met));
}

// Prints the targets; returns whether all were met.
bool PrintTargets(const SizeResult& big, const SizeResult& small) {
  std::printf("\ntargets (%g MB log, %u CPUs)\n", big.megabytes,
              std::thread::hardware_concurrency());
  bool all = true;
  const double size = static_cast<double>(big.log.bytes) / kMB;
  for (Operation op : kOperations) {
    const Figures& f = big.Of(op);
    const double limit = op == Operation::Load ? kLoadVsTac : kSaveVsFloor;
    const Figures& floor = FloorOf(big, op);
    const bool measured = f.ok && floor.ok;
    const double ratio = measured ? f.seconds / floor.seconds : 0.0;
    const bool met = measured && ratio <= limit;
    all = all && met;
    PrintTarget(op, Format("time <= %g x ", limit) + kFloorName, measured, ratio, met);
  }
  for (Operation op : kOperations) {
    const Figures& f = big.Of(op);
#ifdef _WIN32
    // A process under Wine starts with some 50 MB: the peak above that.
    const double ratio = f.ok ? Mb(f.peakKb - f.startKb) / size : 0.0;
    const char* peak = "peak above base < %g x size";
#else
    const double ratio = f.ok ? Mb(f.peakKb) / size : 0.0;
    const char* peak = "peak < %g x file size";
#endif
    const bool met = f.ok && ratio < kPeakVsSize;
    all = all && met;
    PrintTarget(op, Format(peak, kPeakVsSize), f.ok, ratio, met);
  }
  for (Operation op : kOperations) {
    const Figures& f = big.Of(op);
    const Figures& g = small.Of(op);
    const bool measured = f.ok && g.ok;
    const double ratio = measured ? f.seconds / g.seconds : 0.0;
    const bool met = measured && ratio <= kScaleLimit;
    all = all && met;
    PrintTarget(op, Format("%g MB time <= %g x %g MB", big.megabytes, kScaleLimit, small.megabytes),
                measured, ratio, met);
  }
  return all;
}

int Main(int argc, char** argv) {
  if (ChildMain(argc, argv, ChildBody, sizeof(Sample))) return ChildExitCode();
  double megabytes = 100;
  int runs = 5;
  if (argc > 4 ||
      (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0))) {
    std::printf(
        "usage: bench_log [MB] [runs] [sjis|utf8|utf16]   (default 100 MB, 5 runs, sjis; also "
        "runs MB/10)\n");
    return argc > 4 ? 2 : 0;
  }
  if (argc > 1) megabytes = std::atof(argv[1]);
  if (argc > 2) runs = std::atoi(argv[2]);
  if (argc > 3) {
    const std::string e = argv[3];
    if (e == "utf8")
      g_encoding = Encoding::Utf8;
    else if (e == "utf16")
      g_encoding = Encoding::Utf16;
    else if (e != "sjis")
      Die("unknown encoding " + e);
  }
  if (!(megabytes >= 0.1 && megabytes <= 100000) || runs < 1) Die("bad MB or runs");

  QTemporaryDir root;
  if (!root.isValid()) Die("cannot create a temporary folder: " + root.errorString().toStdString());
  g_root = &root;
  std::printf("bench_log: logs in %s\n", qPrintable(root.path()));

  const SizeResult big = RunSize(root.path(), megabytes, runs);
  const SizeResult small = RunSize(root.path(), megabytes / 10, runs + 2);
  PrintTable(big, runs);
  PrintTable(small, runs + 2);
  std::printf("\n%g MB / %g MB time:", big.megabytes, small.megabytes);
  if (big.tac.ok && small.tac.ok)
    std::printf("  %s %.2f", kFloorName, big.tac.seconds / small.tac.seconds);
  for (Operation op : kOperations) {
    if (big.Of(op).ok && small.Of(op).ok)
      std::printf("  %s %.2f", OperationName(op), big.Of(op).seconds / small.Of(op).seconds);
  }
  std::printf("\n");
  const bool all = PrintTargets(big, small);
  std::printf("\nall targets %s\n", all ? "met" : "NOT met");
  bool failed = !big.tac.ok || !small.tac.ok;
#ifdef _WIN32
  failed = failed || !big.rewrite.ok || !small.rewrite.ok;
#endif
  for (Operation op : kOperations) failed = failed || !big.Of(op).ok || !small.Of(op).ok;
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace parlotrim::bench

int main(int argc, char** argv) {
  return parlotrim::bench::Main(argc, argv);
}
