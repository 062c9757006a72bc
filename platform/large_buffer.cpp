#include "platform/large_buffer.h"

#include <QtGlobal>
#ifndef Q_OS_WIN
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <mutex>
#include <new>
#include <utility>

namespace parlotrim {

namespace {

// Smaller buffers come and go with the allocator as any other.
constexpr qsizetype kLargeFrom = qsizetype(4) << 20;
// How much more than twice what is asked for a kept buffer may be and still be lent.
constexpr qsizetype kSpare = qsizetype(64) << 20;

std::mutex keptMutex;
QByteArray keptBuffer;  // owns its whole allocation, from its first byte

// Bytes in buffer's allocation from its first byte on, whatever its data start has moved to
// (remove(0, n) moves the start, not the bytes).
qsizetype Allocated(QByteArray& buffer) {
  const QByteArray::DataPointer& d = buffer.data_ptr();
  return d.constAllocatedCapacity();
}

// Makes buffer start at its allocation's first byte again, empty.
void Rewind(QByteArray& buffer) {
  QByteArray::DataPointer& d = buffer.data_ptr();
  d.setBegin(d.begin() - d.freeSpaceAtBegin());
  d.size = 0;
}

#ifdef Q_OS_WIN
// Windows keeps the pages of a kept buffer: the allocator hands them back when it goes.
void ReleasePages(char*, qsizetype) {}
void PreferHugePages(char*, qsizetype) {}
#else
// Gives advice on the whole units of unit bytes (a power of two) inside [data, data + size).
void AdviseWithin(char* data, qsizetype size, std::uintptr_t unit, int advice) {
  if (size <= 0) return;
  const std::uintptr_t begin = (std::uintptr_t(data) + unit - 1) & ~(unit - 1);
  const std::uintptr_t end = (std::uintptr_t(data) + std::uintptr_t(size)) & ~(unit - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}

// Gives the whole pages inside [data, data + size) back to the system; they read as zeros
// when next touched.
void ReleasePages(char* data, qsizetype size) {
  AdviseWithin(data, size, std::uintptr_t(::sysconf(_SC_PAGESIZE)), MADV_DONTNEED);
}

// Asks for huge pages for data: filling the buffer then takes far fewer page faults.
void PreferHugePages(char* data, qsizetype size) {
#ifdef MADV_HUGEPAGE
  AdviseWithin(data, size, std::uintptr_t(2) << 20, MADV_HUGEPAGE);
#else
  Q_UNUSED(data);
  Q_UNUSED(size);
#endif
}
#endif

}  // namespace

QByteArray LendLargeBuffer(qsizetype size, qsizetype allocate) {
  allocate = qMax(size, allocate);
  {
    const std::lock_guard<std::mutex> lock(keptMutex);
    const qsizetype kept = Allocated(keptBuffer);
    if (size >= kLargeFrom && kept >= size && kept <= 2 * allocate + kSpare) {
      QByteArray buffer = std::exchange(keptBuffer, QByteArray());
      // The allocator keeps a byte beyond the allocated size for the terminating zero.
      buffer.resize(kept);
      // Filled from the back, this work needs only the last allocate bytes: memory written
      // by earlier work in front of them goes back to the system.
      ReleasePages(buffer.data(), kept - allocate);
      return buffer;
    }
    keptBuffer = QByteArray();  // not needed now: its memory goes before new memory is taken
  }
  QByteArray buffer;
  try {
    buffer.reserve(allocate);
  } catch (const std::bad_alloc&) {
    if (allocate == size) throw;
    buffer.reserve(size);  // what was asked for may still be had
  }
  PreferHugePages(buffer.data(), buffer.capacity());
  buffer.resize(buffer.capacity());
  return buffer;
}

void ReleaseLargeBuffer() {
  QByteArray released;  // freed outside the lock
  const std::lock_guard<std::mutex> lock(keptMutex);
  released = std::exchange(keptBuffer, QByteArray());
}

void KeepLargeBuffer(QByteArray&& buffer) {
  if (!buffer.isDetached() || Allocated(buffer) < kLargeFrom) return;
  Rewind(buffer);
  const std::lock_guard<std::mutex> lock(keptMutex);
  if (Allocated(buffer) >= Allocated(keptBuffer)) keptBuffer = std::move(buffer);
}

}  // namespace parlotrim
