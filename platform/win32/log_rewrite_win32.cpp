// How a log is rewritten in place on Windows without ever being lost. The steps are those of
// the POSIX store; share modes take the place of leases, and renames are written through.
//
// 1. The log is opened for reading and writing, sharing only reading: while another program has
//    it open for writing this fails (the rewrite is refused), and until the rewrite is done no
//    program can open it for writing.
// 2. The log is read whole and the new content made.
// 3. The copy ".parlotrim-X.tmp" beside the log gets the new content, the old bytes beyond its
//    end, digests of the old bytes, the log's name, both sizes and what identifies the log's
//    file; it is flushed and renamed to ".parlotrim-X.new" through to the disk. Only then do
//    older copies of the log go. Nothing has touched the log yet.
// 4. The log gets its new length (room for it made sure of first) and is flushed; the copy is
//    renamed to ".parlotrim-X.sized".
// 5. The new content is written over the log's first bytes: the rewrite is complete.
// 6. The log is flushed and the copy deleted; where the caller asks, once the user was told.
//
// A copy is applied only to its own log: the same file by volume serial number and file index
// where file indexes last (NTFS, ReFS), and in every case a log whose first bytes are, block by
// block, the old or the new ones. On FAT and exFAT file indexes do not last, and the bytes tell.
#include "platform/win32/log_rewrite_win32.h"

#include <QElapsedTimer>
#include <algorithm>
#include <thread>

#include "platform/rewrite_copy.h"

namespace parlotrim {

using namespace win;

namespace {

FileResult InUse() {
  return FileResult::Failed(
      FileResult::InUse,
      QStringLiteral("ほかのプログラムがこのログファイルを開いているか、書き込んでいます"));
}

QByteArray NameBytes(const QString& name) {
  return QByteArray(reinterpret_cast<const char*>(name.utf16()), name.size() * 2);
}

QString NameFromBytes(const QByteArray& bytes) {
  return bytes.size() % 2 ? QString()
                          : QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                               bytes.size() / 2);
}

struct Copy : CopyRecord {
  QString stem;  // folder + ".parlotrim-" + hex digits
  bool sized = false;
  QString path() const { return stem + (sized ? QStringLiteral(".sized") : QStringLiteral(".new")); }
  QString logName() const { return NameFromBytes(name); }
};

ReadAt Reader(Win32Calls& calls, HANDLE file, DWORD* error = nullptr) {
  return [&calls, file, error](qint64 at, qint64 size) {
    DWORD ignored = 0;
    return win::ReadBytesAt(calls, file, at, size, error ? error : &ignored);
  };
}

bool ReadCopy(Win32Calls& calls, const QString& stem, bool sized, Copy* copy) {
  copy->stem = stem;
  copy->sized = sized;
  DWORD error = 0;
  bool exists = false;
  const Handle file = OpenRegular(calls, copy->path(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, &error, &exists);
  if (!file.valid() || !copy->Parse(SizeOf(file.get()), Reader(calls, file.get()))) return false;
  // A name the program could not have written is no log of this folder.
  const QString log = copy->logName();
  return !log.isEmpty() && !log.contains(u'\\') && !log.contains(u'/') && !log.contains(u':') &&
         !log.contains(QChar(0)) && log != QLatin1String(".") && log != QLatin1String("..");
}

// What tells the file open as handle from another: the volume's serial number and the file's
// index on it. On FAT and exFAT the index is made up anew at each mount.
FileIdentity Identify(HANDLE handle) {
  FileIdentity id;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle, &info)) {
    id.file = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.volume = info.dwVolumeSerialNumber;
  }
  wchar_t system[MAX_PATH + 1] = {};
  if (::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, nullptr, system,
                                      MAX_PATH + 1))
    id.lasting = !QString::fromWCharArray(system).contains(QLatin1String("FAT"),
                                                            Qt::CaseInsensitive);
  return id;
}

QList<Copy> FindCopies(Win32Calls& calls, const QString& folder, const QString& name) {
  QList<Copy> copies;
  for (const WIN32_FIND_DATAW& entry : FolderEntries(folder, QStringLiteral(".parlotrim-*"))) {
    const QString file = QString::fromWCharArray(entry.cFileName);
    QString stem;
    const bool sized = IsOwnFile(file, u".sized", &stem);
    Copy copy;
    if ((sized || IsOwnFile(file, u".new", &stem)) &&
        ReadCopy(calls, folder + stem, sized, &copy) &&
        (name.isEmpty() || copy.logName() == name))
      copies.append(copy);
  }
  return copies;
}

// Opens the log to rewrite it, sharing only reading. A program that opens, appends to and
// closes the log for each line has it open only for moments: a few tries let such moments pass.
Handle OpenForRewrite(Win32Calls& calls, const QString& path, FileResult* result) {
  DWORD error = 0;
  bool exists = false;
  for (int attempt = 0;; ++attempt) {
    Handle file = OpenRegular(calls, path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &error,
                              &exists);
    if (file.valid()) return file;
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
    if (attempt == 20) {
      *result = InUse();
      return Handle();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  *result = FileResult::Failed(exists && error ? FileResult::Write : FileResult::Read,
                               OpenCause(error));
  return Handle();
}

// Gives a log that grows its new length, with room for it checked before the log changes.
// Returns 0, or the cause of the failure.
DWORD Lengthen(Win32Calls& calls, HANDLE file, const QString& folder, qint64 oldSize,
               qint64 newSize) {
  if (!calls.Reserve(file, newSize)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION && error != ERROR_CALL_NOT_IMPLEMENTED)
      return error;
    quint64 free = 0;
    if (calls.FreeBytes(W(folder), &free) && free < quint64(newSize - oldSize))
      return ERROR_DISK_FULL;
  }
  return calls.SetSize(file, newSize) ? 0 : ::GetLastError();
}

void RemoveOlderCopies(Win32Calls& calls, const QList<Copy>& older) {
  for (const Copy& copy : older) calls.Delete(W(copy.path()));
}

// Steps 3 to 6 of a rewrite, for the log open as file whose present length is oldSize.
FileResult WriteInPlace(Win32Calls& calls, const QString& folder, const QString& name,
                        HANDLE file, qint64 oldSize, const QList<QByteArrayView>& pieces,
                        const QList<quint64>& oldBlocks, Tidying* later = nullptr) {
  DWORD error = 0;
  const QList<Copy> older = FindCopies(calls, folder, name);
  CopyRecord record =
      StartRecord(Identify(file), NameBytes(name), oldSize, pieces, NewestStamp(older));
  const qint64 newSize = record.newSize;
  if (!OldDigests(&record, oldBlocks, Reader(calls, file, &error)))
    return FileResult::Failed(FileResult::Read, Cause(error ? error : ERROR_READ_FAULT));
  RemoveStaleTemporaries(calls, folder);
  TempFile temp;
  if (!CreateTemp(calls, folder, &temp, &error))
    return FileResult::Failed(FileResult::Write, Cause(error));
  bool ok = true;
  qint64 at = 0;
  for (QByteArrayView piece : pieces) {
    if (!(ok = WriteAllAt(calls, temp.file.get(), piece, at, &error))) break;
    at += piece.size();
  }
  // The old bytes beyond the new end, by which a crash before the log got its new length is
  // told from one after.
  for (qint64 from = newSize; ok && from < oldSize;) {
    const QByteArray block = win::ReadBytesAt(calls, file, from, qMin<qint64>(1 << 20, oldSize - from),
                                         &error);
    ok = !block.isEmpty() && WriteAllAt(calls, temp.file.get(), block, at, &error);
    if (!ok && error == 0) error = ERROR_READ_FAULT;  // the log got shorter meanwhile
    from += block.size();
    at += block.size();
  }
  ok = ok && WriteAllAt(calls, temp.file.get(), record.Tail(), at, &error);
  if (ok && !calls.Flush(temp.file.get())) {
    ok = false;
    error = ::GetLastError();
  }
  temp.file = Handle();  // a file held open cannot be renamed
  if (!ok) {
    calls.Delete(W(temp.path()));
    return FileResult::Failed(FileResult::Write, Cause(error));
  }
  calls.Reached(Phase::CopyWritten);

  const QString complete = temp.stem + QStringLiteral(".new");
  const QString sized = temp.stem + QStringLiteral(".sized");
  auto abandon = [&](const QString& path, DWORD cause) {
    calls.Delete(W(path));
    return FileResult::Failed(FileResult::Write, Cause(cause));
  };
  if (!calls.Move(W(temp.path()), W(complete))) return abandon(temp.path(), ::GetLastError());
  // The new copy's name is on disk (the rename was written through): older copies may go.
  RemoveOlderCopies(calls, older);
  calls.Reached(Phase::CopyNamed);

  auto damaged = [](DWORD cause) {
    FileResult result = FileResult::Failed(FileResult::Write, Cause(cause));
    result.damaged = true;
    return result;
  };
  if (newSize > oldSize) {
    if (const DWORD failed = Lengthen(calls, file, folder, oldSize, newSize)) {
      calls.SetSize(file, oldSize);  // a reservation is given back
      return abandon(complete, failed);
    }
  } else if (newSize < oldSize && !calls.SetSize(file, newSize)) {
    return abandon(complete, ::GetLastError());
  }
  if (!calls.Flush(file)) return damaged(::GetLastError());
  calls.Reached(Phase::LogSized);
  if (!calls.Move(W(complete), W(sized))) return damaged(::GetLastError());

  at = 0;
  for (QByteArrayView piece : pieces) {
    if (!WriteAllAt(calls, file, piece, at, &error)) return damaged(error);
    at += piece.size();
  }
  if (later) {
    calls.Reached(Phase::LogWritten);
    later->log = folder + name;
    later->copy = sized;
    return FileResult();
  }
  if (!calls.Flush(file)) return damaged(::GetLastError());
  calls.Reached(Phase::LogWritten);
  calls.Delete(W(sized));
  return FileResult();
}

FileResult Unmatched(const Copy& copy) {
  const QString path = copy.path();
  return UnmatchedCopy(path.mid(path.lastIndexOf(u'\\') + 1), copy.newSize);
}

// Finishes the rewrites of the log name whose copies lie in folder, with the log open as file.
FileResult FinishWithOpenLog(Win32Calls& calls, const QString& folder, const QString& name,
                             HANDLE file) {
  const QList<Copy> copies = FindCopies(calls, folder, name);
  if (copies.isEmpty()) return FileResult();
  const Copy& copy = *std::max_element(copies.begin(), copies.end(),
                                       [](auto& a, auto& b) { return a.stamp < b.stamp; });
  DWORD error = 0;
  bool exists = false;
  const Handle copyFile = OpenRegular(calls, copy.path(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, &error, &exists);
  if (!copyFile.valid()) return FileResult::Failed(FileResult::Read, OpenCause(error));
  QByteArray content = win::ReadBytesAt(calls, copyFile.get(), 0, copy.BodySize(), &error);
  if (content.size() != copy.BodySize())
    return FileResult::Failed(FileResult::Read, Cause(error ? error : ERROR_READ_FAULT));
  const qint64 size = SizeOf(file);
  const FileIdentity id = Identify(file);
  const bool sameFile = copy.file == id.file && (copy.volume == 0 || copy.volume == id.volume);
  const bool fits = LogFitsCopy(copy, QByteArrayView(content).first(copy.newSize), size,
                                Reader(calls, file, &error));
  if (!fits && error) return FileResult::Failed(FileResult::Read, Cause(error));
  if (!fits || !(sameFile || (!id.lasting && copy.volume == id.volume))) return Unmatched(copy);
  bool unread = false;
  auto fileBytes = [&](qint64 from, qint64 n) {
    const QByteArray bytes = win::ReadBytesAt(calls, file, from, n, &error);
    unread = unread || bytes.size() != n;
    return bytes;
  };
  const qint64 from = copy.sized ? copy.newSize
                                 : AppendedFrom(copy.oldSize, copy.newSize,
                                                QByteArrayView(content).sliced(copy.newSize), size,
                                                fileBytes);
  const QByteArray appended = size > from ? fileBytes(from, size - from) : QByteArray();
  if (unread) return FileResult::Failed(FileResult::Read, Cause(error ? error : ERROR_READ_FAULT));
  content.truncate(copy.newSize);
  return WriteInPlace(calls, folder, name, file, size, {content, appended}, {});
}

}  // namespace

void Tidying::Finish(Win32Calls& calls) {
  if (!log.isEmpty()) {
    // Any handle with write access flushes the file's data.
    const Handle file(calls.Open(W(log), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING));
    if (file.valid() && calls.Flush(file.get())) calls.Delete(W(copy));
  }
  log.clear();
  copy.clear();
}

FileResult RewriteInPlace(Win32Calls& calls, const QString& folder, const QString& name,
                          const FileStore::BlockSink& sink, const FileStore::Producer& produce,
                          Tidying* later) {
  FileResult result;
  const Handle file = OpenForRewrite(calls, folder + name, &result);
  if (!file.valid()) return result;
  FileResult finished = FinishWithOpenLog(calls, folder, name, file.get());
  if (!finished.ok()) return finished;
  const qint64 size = SizeOf(file.get());
  BlockDigests digests;
  DWORD error = 0;
  if (!ReadInBlocks(
          calls, file.get(), size,
          [&](QByteArrayView block) {
            digests.Feed(block);
            sink(block, size);
          },
          &error))
    return FileResult::Failed(FileResult::Read, Cause(error));
  return WriteInPlace(calls, folder, name, file.get(), size, produce(),
                      digests.First(size / kDigestBlock), later);
}

FileResult FinishInterruptedRewrite(Win32Calls& calls, const QString& folder,
                                    const QString& name) {
  QStringList logs;
  for (const Copy& copy : FindCopies(calls, folder, name)) {
    if (!logs.contains(copy.logName())) logs.append(copy.logName());
  }
  for (const QString& log : logs) {
    FileResult result;
    const Handle file = OpenForRewrite(calls, folder + log, &result);
    if (file.valid()) {
      result = FinishWithOpenLog(calls, folder, log, file.get());
    } else if (result.failure == FileResult::Read &&
               (::GetFileAttributesW(W(folder + log)) == INVALID_FILE_ATTRIBUTES)) {
      result = FileResult();  // a copy of a log that is gone is left alone
    }
    if (!result.ok() && !name.isEmpty()) return UnfinishedRewrite(result);
  }
  return FileResult();
}

}  // namespace parlotrim
