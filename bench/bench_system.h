// What the benchmarks need of the system they run on, the same on Linux and Windows: the memory
// of this process, files written and synced, child processes that hand a block of bytes back,
// and on Windows the floor, the fastest safe way to do a job with the system's own calls.
#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstddef>

namespace parlotrim::bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The resident set (working set) of this process, and its high-water mark, in KiB; -1 when
// the system does not say.
long ResidentKb();
long PeakResidentKb();

// Syncs the file at path to the disk.
bool SyncFile(const QString& path);
// Copies from over to (its content replaced, the file kept) and syncs it.
bool CopySynced(const QString& from, const QString& to);
// Waits for what is still to be written of the files of folder.
void SettleFolder(const QString& folder);

// The body of a child process: it reads its arguments and fills out, of size bytes.
using ChildBody = void (*)(const QStringList& args, void* out, size_t size);

// Runs body(args) in a child process and copies what it filled into out; false when the child
// did not finish. On Linux the child is forked; on Windows this program is started again with
// "--child", which its main hands to ChildMain first.
bool RunChild(ChildBody body, const QStringList& args, void* out, size_t size);
// When this process was started as such a child, runs body and returns true (main then ends
// with ChildExitCode()).
bool ChildMain(int argc, char** argv, ChildBody body, size_t size);
int ChildExitCode();

#ifdef _WIN32
// The Windows floor, timed from the first call to the last: ReadFile of the whole log into one
// VirtualAlloc block; for a save, also WriteFile of it to a new file beside `to` in 1 MiB
// pieces, FlushFileBuffers and MoveFileExW over `to`, written through. -1 on failure.
double FloorSeconds(bool save, const QString& log, const QString& to);
#endif

}  // namespace parlotrim::bench
