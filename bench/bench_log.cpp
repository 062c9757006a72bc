// Times the load, Change and Save and HTML Save of a large chat log, whole operation, against
// GNU tac reading the same file, and reports the peak memory of each operation.
//
//   bench_log [MB] [runs] [sjis|utf8|utf16]
//
// The log is in Shift JIS (the default), UTF-8 without a byte order mark, or UTF-16 LE with
// one: the same chat, so that the encodings' figures can be set side by side.
// Two logs are made in a temporary folder (TMPDIR, else /tmp): MB megabytes (default 100,
// 1 MB = 10^6 bytes) and a tenth of that. Each operation runs in a child process of its own so
// that its peak resident set (VmHWM) is its own; times are the best of `runs` rounds (default
// 5) with the page cache warm. Change and Save rewrites the log, so the log is restored from a
// pristine copy before each of its runs, outside the timing.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
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
#include <string>

#include "bench/noop_window.h"
#include "core/log_operations.h"
#include "core/module1.h"
#include "platform/file_store.h"

extern char** environ;

namespace parlotrim::bench {
namespace {

constexpr double kMB = 1e6;
constexpr double kLoadVsTac = 1.5;
constexpr double kPeakVsSize = 3.0;
constexpr double kScaleLimit = 12.0;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The folder of the logs, removed also when the bench gives up.
QTemporaryDir* g_root = nullptr;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_log: %s\n", what.c_str());
  if (g_root) g_root->remove();
  std::exit(2);
}

[[noreturn]] void DieErrno(const std::string& what) {
  Die(what + ": " + std::strerror(errno));
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

void WriteAll(int fd, const char* data, size_t size, const std::string& path) {
  while (size > 0) {
    const ssize_t wrote = ::write(fd, data, size);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      DieErrno("write " + path);
    }
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
}

void SyncAndClose(int fd, const std::string& path) {
  if (::fsync(fd) != 0) DieErrno("fsync " + path);
  if (::close(fd) != 0) DieErrno("close " + path);
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
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) DieErrno("create " + path);
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
      WriteAll(fd, buffer.data(), buffer.size(), path);
      buffer.clear();
    }
  }
  WriteAll(fd, buffer.data(), buffer.size(), path);
  SyncAndClose(fd, path);
  return stats;
}

// Puts the pristine log back in place and syncs it, so that no write-back of the copy runs
// during the next timed operation.
void CopyFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY);
  if (in < 0) DieErrno("open " + from);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) DieErrno("create " + to);
  std::string buffer(1 << 20, '\0');
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      DieErrno("read " + from);
    }
    if (got == 0) break;
    WriteAll(out, buffer.data(), static_cast<size_t>(got), to);
  }
  ::close(in);
  SyncAndClose(out, to);
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
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

// A "VmHWM:"-style field of /proc/self/status, in kB.
long StatusKb(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, length) == 0) {
      kb = std::strtol(line + length, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kb;
}

// Runs op(&sample) in a child process and hands back what it measured.
template <typename Op>
Sample RunInChild(Op&& op) {
  int fds[2];
  if (::pipe(fds) != 0) DieErrno("pipe");
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = ::fork();
  if (pid < 0) DieErrno("fork");
  if (pid == 0) {
    ::close(fds[0]);
    Sample sample;
    sample.startKb = StatusKb("VmRSS:");
    op(&sample);
    sample.peakKb = StatusKb("VmHWM:");
    const char* p = reinterpret_cast<const char*>(&sample);
    size_t left = sizeof sample;
    while (left > 0) {
      const ssize_t wrote = ::write(fds[1], p, left);
      if (wrote <= 0) ::_exit(3);
      p += wrote;
      left -= static_cast<size_t>(wrote);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  Sample sample;
  char* p = reinterpret_cast<char*>(&sample);
  size_t got = 0;
  while (got < sizeof sample) {
    const ssize_t n = ::read(fds[0], p + got, sizeof sample - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (got != sizeof sample || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    sample = Sample();
    SetFailure(&sample, "the child process did not finish");
  }
  return sample;
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

// One run of a log operation through the core, in the child.
void TimeOperation(Operation op, const QString& folder, const QString& logName, Sample* sample) {
  PosixCalls disk;
  FileStore files(disk);
  Module1 module;
  NoopWindow window(QFile::encodeName(logName));
  LogOperations operations(window, files, QFile::encodeName(folder), module);
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
  Figures tac;
  Figures ops[3];  // by Operation

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

  // One untimed pass each so that the log and the code are warm.
  TimeTac(log);
  RunInChild([&](Sample* s) { TimeOperation(Operation::Load, folder, logName, s); });

  // Rounds interleave tac and the operations so that all see the same state of the machine.
  for (int run = 0; run < runs; ++run) {
    result.tac.Add(TimeTac(log));
    for (Operation op : kOperations) {
      if (op == Operation::ChangeAndSave) CopyFile(pristine, log);
      Sample sample = RunInChild([&](Sample* s) { TimeOperation(op, folder, logName, s); });
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

void PrintTable(const SizeResult& r, int runs) {
  const double size = static_cast<double>(r.log.bytes) / kMB;
  std::printf("\n%g MB %s log (%.2f MB, %lld lines), best of %d, page cache warm\n", r.megabytes,
              EncodingName(g_encoding), size, static_cast<long long>(r.log.lines), runs);
  std::printf("  %-16s %9s %9s %8s %10s %8s %9s\n", "", "time s", "MB/s", "x tac", "peak MB",
              "x size", "base MB");
  // tac's own peak cannot be told apart from this process's: a spawned child's high-water
  // mark starts from its parent's.
  if (r.tac.ok)
    std::printf("  %-16s %9.3f %9.1f %8.2f %10s %8s %9s\n", "tac", r.tac.seconds,
                size / r.tac.seconds, 1.0, "-", "-", "-");
  else
    std::printf("  %-16s failed: %s\n", "tac", r.tac.failure.c_str());
  for (Operation op : kOperations) {
    const Figures& f = r.Of(op);
    if (!f.ok) {
      std::printf("  %-16s failed: %s\n", OperationName(op), f.failure.c_str());
      continue;
    }
    std::printf("  %-16s %9.3f %9.1f %8.2f %10.1f %8.2f %9.1f\n", OperationName(op), f.seconds,
                size / f.seconds, r.tac.ok ? f.seconds / r.tac.seconds : 0.0, Mb(f.peakKb),
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
  std::printf("\ntargets (%g MB log, %ld CPUs)\n", big.megabytes, ::sysconf(_SC_NPROCESSORS_ONLN));
  bool all = true;
  const double size = static_cast<double>(big.log.bytes) / kMB;
  for (Operation op : kOperations) {
    const Figures& f = big.Of(op);
    const double limit = op == Operation::Load ? kLoadVsTac : 1.0;
    const bool measured = f.ok && big.tac.ok;
    const double ratio = measured ? f.seconds / big.tac.seconds : 0.0;
    const bool met = measured && ratio <= limit;
    all = all && met;
    PrintTarget(op, Format("time <= %g x tac", limit), measured, ratio, met);
  }
  for (Operation op : kOperations) {
    const Figures& f = big.Of(op);
    const double ratio = f.ok ? Mb(f.peakKb) / size : 0.0;
    const bool met = f.ok && ratio < kPeakVsSize;
    all = all && met;
    PrintTarget(op, Format("peak < %g x file size", kPeakVsSize), f.ok, ratio, met);
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
  if (big.tac.ok && small.tac.ok) std::printf("  tac %.2f", big.tac.seconds / small.tac.seconds);
  for (Operation op : kOperations) {
    if (big.Of(op).ok && small.Of(op).ok)
      std::printf("  %s %.2f", OperationName(op), big.Of(op).seconds / small.Of(op).seconds);
  }
  std::printf("\n");
  const bool all = PrintTargets(big, small);
  std::printf("\nall targets %s\n", all ? "met" : "NOT met");
  bool failed = !big.tac.ok || !small.tac.ok;
  for (Operation op : kOperations) failed = failed || !big.Of(op).ok || !small.Of(op).ok;
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace parlotrim::bench

int main(int argc, char** argv) {
  return parlotrim::bench::Main(argc, argv);
}
