#include "platform/win32/win32_calls.h"

namespace parlotrim {

namespace {

OVERLAPPED At(qint64 at) {
  OVERLAPPED overlapped{};
  overlapped.Offset = DWORD(quint64(at) & 0xFFFFFFFFu);
  overlapped.OffsetHigh = DWORD(quint64(at) >> 32);
  return overlapped;
}

}  // namespace

HANDLE Win32Calls::Open(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                        DWORD flags) {
  return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

bool Win32Calls::ReadAt(HANDLE file, void* data, DWORD size, qint64 at, DWORD* done) {
  OVERLAPPED overlapped = At(at);
  *done = 0;
  if (::ReadFile(file, data, size, done, &overlapped)) return true;
  return ::GetLastError() == ERROR_HANDLE_EOF;
}

bool Win32Calls::WriteAt(HANDLE file, const void* data, DWORD size, qint64 at, DWORD* done) {
  OVERLAPPED overlapped = At(at);
  *done = 0;
  return ::WriteFile(file, data, size, done, &overlapped) != 0;
}

bool Win32Calls::SetSize(HANDLE file, qint64 size) {
  FILE_END_OF_FILE_INFO info{};
  info.EndOfFile.QuadPart = size;
  return ::SetFileInformationByHandle(file, FileEndOfFileInfo, &info, sizeof info) != 0;
}

bool Win32Calls::Reserve(HANDLE file, qint64 size) {
  FILE_ALLOCATION_INFO info{};
  info.AllocationSize.QuadPart = size;
  return ::SetFileInformationByHandle(file, FileAllocationInfo, &info, sizeof info) != 0;
}

bool Win32Calls::FreeBytes(const wchar_t* folder, quint64* bytes) {
  ULARGE_INTEGER free{};
  if (!::GetDiskFreeSpaceExW(folder, &free, nullptr, nullptr)) return false;
  *bytes = free.QuadPart;
  return true;
}

}  // namespace parlotrim
