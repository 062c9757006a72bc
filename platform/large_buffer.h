// Buffers as large as a log are filled once, from one end to the other. Asking for huge pages
// for them saves most of the page faults that filling them would otherwise take.
#pragma once

#include <sys/mman.h>

#include <QtGlobal>
#include <cstdint>

namespace parlotrim {

inline void PreferHugePages(char* data, qsizetype size) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
  const std::uintptr_t begin = (std::uintptr_t(data) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (std::uintptr_t(data) + std::uintptr_t(size)) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  Q_UNUSED(data);
  Q_UNUSED(size);
#endif
}

}  // namespace parlotrim
