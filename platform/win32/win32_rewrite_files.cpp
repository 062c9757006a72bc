#include "platform/system_files.h"

#include <QStringDecoder>

#include <thread>

#include "platform/win32/win_files.h"

namespace parlotrim {

using namespace win;

namespace {

bool Fail(DWORD cause, int* error) {
  *error = int(cause);
  return false;
}

// An open file, as a copy (Base: RewriteFile) or as the log (RewriteLog).
template <typename Base>
class FileOf : public Base {
 public:
  FileOf(Win32Calls& calls, Handle file) : calls_(calls), file_(std::move(file)) {}
  bool ReadAt(qint64 at, char* data, qint64 size, qint64* got, int* error) override {
    *got = 0;
    while (*got < size) {
      DWORD n = 0;
      if (!calls_.ReadAt(file_.get(), data + *got, DWORD(qMin<qint64>(size - *got, 1 << 30)),
                         at + *got, &n))
        return Fail(::GetLastError(), error);
      if (n == 0) break;
      *got += n;
    }
    return true;
  }
  bool WriteAt(qint64 at, QByteArrayView data, int* error) override {
    DWORD cause = 0;
    return WriteAllAt(calls_, file_.get(), data, at, &cause) || Fail(cause, error);
  }
  bool Sync(int* error) override {
    return calls_.Flush(file_.get()) || Fail(::GetLastError(), error);
  }
  // A file held open cannot be renamed.
  void Done() override { file_ = Handle(); }

 protected:
  Win32Calls& calls_;
  Handle file_;
};

// The log, open for reading and writing and sharing only reading: until it is closed, no other
// program opens it for writing.
using File = FileOf<RewriteFile>;

class Log : public FileOf<RewriteLog> {
 public:
  Log(Win32Calls& calls, Handle file, const QString& path)
      : FileOf(calls, std::move(file)), path_(path) {}

  qint64 Snapshot() override { return SizeOf(file_.get()); }
  bool Quiet(double) override { return true; }  // the share mode keeps writers out

  bool Lengthen(qint64 oldSize, qint64 newSize, bool* touched, int* error) override {
    *touched = false;
    const DWORD cause = [&]() -> DWORD {
      if (!calls_.Reserve(file_.get(), newSize)) {
        const DWORD refused = ::GetLastError();
        if (refused != ERROR_INVALID_PARAMETER && refused != ERROR_NOT_SUPPORTED &&
            refused != ERROR_INVALID_FUNCTION && refused != ERROR_CALL_NOT_IMPLEMENTED)
          return refused;
        quint64 free = 0;
        const QString folder = path_.first(path_.lastIndexOf(u'\\') + 1);
        if (calls_.FreeBytes(W(folder), &free) && free < quint64(newSize - oldSize))
          return ERROR_DISK_FULL;
      }
      return calls_.SetSize(file_.get(), newSize) ? 0 : ::GetLastError();
    }();
    if (cause == 0) return true;
    calls_.SetSize(file_.get(), oldSize);  // a reservation is given back
    return Fail(cause, error);
  }

  bool Cut(qint64 size, int* error) override {
    return calls_.SetSize(file_.get(), size) || Fail(::GetLastError(), error);
  }

  // The volume's serial number and the file's index on it. On FAT and exFAT the index is made
  // up anew at each mount.
  FileIdentity Identify() override {
    FileIdentity id;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file_.get(), &info)) {
      id.file = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
      id.volume = info.dwVolumeSerialNumber;
    }
    wchar_t system[MAX_PATH + 1] = {};
    if (::GetVolumeInformationByHandleW(file_.get(), nullptr, 0, nullptr, nullptr, nullptr,
                                        system, MAX_PATH + 1))
      id.lasting = !QString::fromWCharArray(system).contains(QLatin1String("FAT"),
                                                              Qt::CaseInsensitive);
    return id;
  }

  // Closes the log; a later sync opens it again, sharing everything, for any handle with write
  // access flushes the file's data.
  void LetOthersIn() override { file_ = Handle(); }
  bool Sync(int* error) override {
    if (!file_.valid())
      file_ = Handle(calls_.Open(W(path_), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING));
    return (file_.valid() && calls_.Flush(file_.get())) || Fail(::GetLastError(), error);
  }

 private:
  const QString path_;
};

}  // namespace

// A program that opens, appends to and closes the log for each line has it open only for
// moments: a few tries let such moments pass.
std::unique_ptr<RewriteLog> SystemFiles::OpenLog(const NativeName& path, FileResult* result,
                                                       bool* missing) {
  DWORD error = 0;
  bool exists = false;
  for (int attempt = 0;; ++attempt) {
    Handle file = OpenRegular(calls_, path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &error,
                              &exists);
    *missing = !exists;
    if (file.valid()) return std::make_unique<Log>(calls_, std::move(file), path);
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
    if (attempt == 20) {
      *result = LogInUse();
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  *result = FileResult::Failed(exists && error ? FileResult::Write : FileResult::Read,
                               OpenCause(error));
  return nullptr;
}

std::unique_ptr<RewriteFile> SystemFiles::OpenToRead(const NativeName& path, qint64* size,
                                                         int* error) {
  DWORD cause = 0;
  bool exists = false;
  Handle file = OpenRegular(calls_, path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            &cause, &exists);
  if (!file.valid()) {
    *error = int(cause ? cause : ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  *size = SizeOf(file.get());
  return std::make_unique<File>(calls_, std::move(file));
}

std::unique_ptr<RewriteFile> SystemFiles::CreateTemp(const NativeName& folder,
                                                           NativeName* stem, int* error) {
  TempFile temp;
  DWORD cause = 0;
  if (!win::CreateTemp(calls_, folder, &temp, &cause)) {
    *error = int(cause);
    return nullptr;
  }
  *stem = temp.stem;
  return std::make_unique<File>(calls_, std::move(temp.file));
}

bool SystemFiles::Rename(const NativeName& from, const NativeName& to, int* error) {
  return calls_.Move(W(from), W(to)) || Fail(::GetLastError(), error);
}

void SystemFiles::Remove(const NativeName& path) {
  calls_.Delete(W(path));
}

QList<CopyName> SystemFiles::Copies(const NativeName& folder) {
  QList<CopyName> copies;
  for (const WIN32_FIND_DATAW& entry : FolderEntries(folder, QStringLiteral(".parlotrim-*"))) {
    const QString file = QString::fromWCharArray(entry.cFileName);
    CopyName copy;
    copy.sized = IsOwnFile(file, u".sized", &copy.stem);
    if (copy.sized || IsOwnFile(file, u".new", &copy.stem)) {
      copy.stem.prepend(folder);
      copies.append(copy);
    }
  }
  return copies;
}

QList<RewriteFiles::Temporary> SystemFiles::Temporaries(const NativeName& folder) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const quint64 nowTicks = (quint64(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  QList<Temporary> temporaries;
  for (const WIN32_FIND_DATAW& entry : FolderEntries(folder, QStringLiteral(".parlotrim-*.tmp"))) {
    const QString name = QString::fromWCharArray(entry.cFileName);
    const quint64 written =
        (quint64(entry.ftLastWriteTime.dwHighDateTime) << 32) | entry.ftLastWriteTime.dwLowDateTime;
    if (IsOwnFile(name, u".tmp") && !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      temporaries.append({name, qint64((nowTicks - written) / 10000000)});  // 100 ns ticks
  }
  return temporaries;
}

// A live writer's file is open without sharing: it cannot be deleted.
void SystemFiles::RemoveUnlessHeld(const NativeName& path) {
  calls_.Delete(W(path));
}

bool SystemFiles::SyncFolder(const NativeName&, int*) {
  return true;  // every rename was written through
}

// In UTF-8, as a POSIX system names it; a name with half a surrogate pair has none.
QByteArray SystemFiles::RecordName(const NativeName& name) {
  const QByteArray utf8 = name.toUtf8();
  return QString::fromUtf8(utf8) == name ? utf8 : QByteArray();
}

bool SystemFiles::NameOfRecord(const QByteArray& bytes, NativeName* name) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  *name = utf8(bytes);
  const QString& log = *name;
  return !utf8.hasError() && !log.isEmpty() && !log.contains(u'\\') && !log.contains(u'/') &&
         !log.contains(u':') && !log.contains(QChar(0)) && log != QLatin1String(".") &&
         log != QLatin1String("..");
}

std::unique_ptr<RewriteFile> SystemFiles::OpenLogToRead(const NativeName& path, qint64* size,
                                                        FileResult* result) {
  DWORD error = 0;
  bool exists = false;
  Handle file = OpenRegular(calls_, path, GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &error, &exists);
  if (!file.valid()) {
    *result = FileResult::Failed(FileResult::Read, OpenCause(error));
    return nullptr;
  }
  *size = SizeOf(file.get());
  return std::make_unique<File>(calls_, std::move(file));
}

QList<NativeName> SystemFiles::Logs(const NativeName& folder) {
  QList<NativeName> logs;
  for (const WIN32_FIND_DATAW& entry : FolderEntries(folder, QStringLiteral("*"))) {
    if (IsLogEntry(entry)) logs.append(QString::fromWCharArray(entry.cFileName));
  }
  return logs;
}

QString SystemFiles::Cause(int error) {
  return win::Cause(DWORD(error));
}

int SystemFiles::IoError() {
  return int(ERROR_READ_FAULT);
}

}  // namespace parlotrim
