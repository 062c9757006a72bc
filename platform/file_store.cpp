// What the file stores of all systems share: reading a log once any rewrite of it that a crash
// cut short is finished, the rewrite itself, the order of the logs, and the tidying after.
#include "platform/file_store.h"

#include <algorithm>
#include <limits>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/code_page.h"
#include "platform/file_store_later.h"
#include "platform/large_buffer.h"

namespace parlotrim {

namespace {

// Opens a log to read it, once any rewrite of it that a crash cut short is finished.
std::unique_ptr<RewriteFile> OpenLog(SystemFiles& files, const NativeName& folder,
                                     const NativeName& name, qint64* size, FileResult* result) {
  *result = FinishInterruptedRewrite(files, folder, name);
  return result->ok() ? files.OpenLogToRead(folder + name, size, result) : nullptr;
}

// From this size on, a file read whole is read on two threads, half each: copying a log from
// the system's cache is a good part of a load, and two cores copy it faster than one.
constexpr qsizetype kReadInTwoFrom = qsizetype(8) << 20;

// Reads size bytes from the start of file to data; got: how many there were (fewer where the
// file got shorter meanwhile).
bool ReadWhole(RewriteFile& file, char* data, qsizetype size, qint64* got, int* error) {
  if (size >= kReadInTwoFrom) {
    const qsizetype half = size / 2;
    qint64 backGot = 0;
    int backError = 0;
    bool backRead = false;
    std::optional<std::thread> aside;
    try {
      aside.emplace(
          [&] { backRead = file.ReadAt(half, data + half, size - half, &backGot, &backError); });
    } catch (const std::system_error&) {
      // No thread to be had: read on this one.
    }
    if (aside) {
      const bool frontRead = file.ReadAt(0, data, half, got, error);
      aside->join();
      if (!frontRead) return false;
      if (!backRead) {
        *error = backError;
        return false;
      }
      if (*got == half) *got += backGot;
      return true;
    }
  }
  return file.ReadAt(0, data, size, got, error);
}

}  // namespace

FileStore::FileStore(SystemCalls& calls)
    : calls_(calls), later_(std::make_unique<Later>(calls)) {}

FileStore::~FileStore() {
  Tidy();
}

void FileStore::Tidy() {
  later_->Finish(later_->files);
  later_->lingering.reset();
}

QList<NativeName> FileStore::ListLogs(const NativeName& folder) {
  Tidy();
  QList<NativeName> logs = later_->files.Logs(folder);
  std::sort(logs.begin(), logs.end(), [](const NativeName& a, const NativeName& b) {
    const int order = DecodeFileName(a).compare(DecodeFileName(b), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a < b;
  });
  return logs;
}

FileResult FileStore::ReadAll(const NativeName& folder, const NativeName& name, QByteArray* data) {
  Tidy();
  FileResult result;
  qint64 fileSize = 0;
  const std::unique_ptr<RewriteFile> file = OpenLog(later_->files, folder, name, &fileSize, &result);
  if (!file) return result;
  // Two free bytes in front of the data, where a load puts the CR LF that its text begins with.
  constexpr qsizetype kFrontRoom = 2;
  if (fileSize < 0 || fileSize > qint64(std::numeric_limits<qsizetype>::max() / 2))
    return FileResult::Failed(FileResult::Read, QStringLiteral("メモリが足りません"));
  // The log goes to the back of the buffer, as the text of a save does later; the buffer is
  // large enough for an HTML body of this log to be built in the same memory.
  const qsizetype size = qsizetype(fileSize);
  *data = LendLargeBuffer(kFrontRoom + size, kFrontRoom + size + size / 2 + 128);
  const qsizetype start = data->size() - size;
  qint64 got = 0;
  int error = 0;
  if (!ReadWhole(*file, data->data() + start, size, &got, &error)) {
    *data = QByteArray();
    return FileResult::Failed(FileResult::Read, later_->files.Cause(error));
  }
  data->resize(start + got);  // the file may have got shorter meanwhile
  data->remove(0, start);     // moves the start of the data, not the bytes
  return FileResult();
}

FileResult FileStore::ReadBlocks(const NativeName& folder, const NativeName& name,
                                 const BlockSink& sink) {
  Tidy();
  FileResult result;
  qint64 size = 0;
  const std::unique_ptr<RewriteFile> file = OpenLog(later_->files, folder, name, &size, &result);
  if (!file) return result;
  int error = 0;
  if (!ReadInBlocks(
          *file, size, [&](QByteArrayView block) { sink(block, size); }, &error))
    return FileResult::Failed(FileResult::Read, later_->files.Cause(error));
  return FileResult();
}

FileResult FileStore::RewriteLog(const NativeName& folder, const NativeName& name,
                                 const BlockSink& sink, const Producer& produce) {
  Tidy();
  return RewriteInPlace(later_->files, folder, name, sink, produce, later_.get());
}

void FileStore::FinishInterruptedRewrites(const NativeName& folder) {
  Tidy();
  later_->files.RemoveStaleTemporaries(folder);
  try {
    FinishInterruptedRewrite(later_->files, folder, NativeName());
  } catch (const std::bad_alloc&) {
    // Too large to finish now: the load of that log tries again, and says why it cannot.
  }
}

}  // namespace parlotrim
