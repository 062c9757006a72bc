#include "platform/large_buffer.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <cstring>

namespace parlotrim {
namespace {

// The memory of a text is lent to the next work that fits in it, whole and from its first
// byte, with what was written at its back still there; never while something else still
// refers to it, and not to work much smaller or larger. Sizes are above the allocator's own
// reuse of freed memory, so that fresh memory reads as zeros.
TEST(LargeBuffer, LentAgainOnlyWhenFreeAndFitting) {
  constexpr qsizetype kMiB = qsizetype(1) << 20;
  struct Case {
    const char* name;
    qsizetype first, cut, second;
    bool shared, reused;
  };
  const Case cases[] = {
      {"same size", 40 * kMiB, 0, 40 * kMiB, false, true},
      {"start moved", 40 * kMiB, 3 * kMiB, 40 * kMiB, false, true},
      {"smaller work", 40 * kMiB, 0, 36 * kMiB, false, true},
      {"larger work", 40 * kMiB, 0, 41 * kMiB, false, false},
      {"far smaller work", 200 * kMiB, 0, 40 * kMiB, false, false},
      {"small work", 40 * kMiB, 0, kMiB, false, false},
      {"still referred to", 40 * kMiB, 0, 40 * kMiB, true, false},
  };
  const QByteArray mark(16, 'x');
  for (const Case& c : cases) {
    ReleaseLargeBuffer();
    QByteArray first = LendLargeBuffer(c.first);
    ASSERT_GE(first.size(), c.first);
    const char* const start = first.constData();
    std::memcpy(first.data() + first.size() - mark.size(), mark.constData(), mark.size());
    first.remove(0, c.cut);
    const QByteArray other = c.shared ? first : QByteArray();
    KeepLargeBuffer(std::move(first));
    QByteArray second = LendLargeBuffer(c.second);
    EXPECT_GE(second.size(), c.second) << c.name;
    const bool reused = second.constData() == start && second.endsWith(mark);
    EXPECT_EQ(reused, c.reused) << c.name;
    EXPECT_TRUE(!c.shared || other.endsWith(mark)) << c.name;
    std::memset(second.data(), 'y', size_t(second.size()));  // all of it may be written
  }
  ReleaseLargeBuffer();
}

}  // namespace
}  // namespace parlotrim
