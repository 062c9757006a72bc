#include "platform/large_buffer.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <cstring>
#include <tuple>

namespace parlotrim {
namespace {

// The memory of a text is lent to the next work that fits in it, whole and from its first
// byte, with what was written at its back still there; never while something else still
// refers to it, and not to work much smaller or larger. Sizes are above the allocator's own
// reuse of freed memory, so that fresh memory reads as zeros.
TEST(LargeBuffer, LentAgainOnlyWhenFreeAndFitting) {
  constexpr qsizetype kMiB = qsizetype(1) << 20;
  // What, the first size, bytes cut from its start, the second size, still referred to, reused.
  const std::tuple<const char*, qsizetype, qsizetype, qsizetype, bool, bool> cases[] = {
      {"same size", 40 * kMiB, 0, 40 * kMiB, false, true},
      {"start moved", 40 * kMiB, 3 * kMiB, 40 * kMiB, false, true},
      {"smaller work", 40 * kMiB, 0, 36 * kMiB, false, true},
      {"larger work", 40 * kMiB, 0, 41 * kMiB, false, false},
      {"far smaller work", 200 * kMiB, 0, 40 * kMiB, false, false},
      {"small work", 40 * kMiB, 0, kMiB, false, false},
      {"still referred to", 40 * kMiB, 0, 40 * kMiB, true, false},
  };
  const QByteArray mark(16, 'x');
  for (const auto& [name, size, cut, secondSize, shared, reuse] : cases) {
    SCOPED_TRACE(name);
    ReleaseLargeBuffer();
    QByteArray first = LendLargeBuffer(size);
    ASSERT_GE(first.size(), size);
    const char* const start = first.constData();
    std::memcpy(first.data() + first.size() - mark.size(), mark.constData(), mark.size());
    first.remove(0, cut);
    const QByteArray other = shared ? first : QByteArray();
    KeepLargeBuffer(std::move(first));
    QByteArray second = LendLargeBuffer(secondSize);
    EXPECT_GE(second.size(), secondSize);
    EXPECT_EQ(second.constData() == start && second.endsWith(mark), reuse);
    EXPECT_TRUE(!shared || other.endsWith(mark));
    std::memset(second.data(), 'y', size_t(second.size()));  // all of it may be written
  }
  ReleaseLargeBuffer();
}

}  // namespace
}  // namespace parlotrim
