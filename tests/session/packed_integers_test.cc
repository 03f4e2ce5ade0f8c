#include "session/packed_integers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vorpex {
namespace {

PackedIntegers packed(const std::vector<std::uint32_t>& values) {
  PackedIntegers list;
  for (const std::uint32_t v : values)
    list.push_back(v);
  return list;
}

TEST(PackedIntegers, ReadsBackWhatWasPut) {
  std::vector<std::uint32_t> values = {0, 1, 127, 128, 16383, 16384, 0xFFFFFFFF};
  // Past a block of bytes, with integers that cross from one block to the next.
  for (std::uint32_t i = 0; i < 70000; ++i)
    values.push_back(i * 2654435761u >> (i % 32));
  const PackedIntegers list = packed(values);
  ASSERT_EQ(list.size(), values.size());
  PackedIntegers::Reader reader(list);
  for (std::size_t i = 0; i < values.size(); ++i)
    ASSERT_EQ(reader.next(), values[i]) << i;
}

// The integers two lists share at their start and at their end, as a delta of semantic tokens
// sends them: never more than they share, and all of it where their bytes tell.
TEST(PackedIntegers, FindsWhatTwoListsShareAtBothEnds) {
  const struct {
    std::vector<std::uint32_t> a, b;
    std::size_t head, tail;
  } cases[] = {
      {{}, {}, 0, 0},
      {{1, 2, 3}, {1, 2, 3}, 3, 0},
      {{1, 2, 3}, {1, 9, 3}, 1, 1},
      {{1, 2, 3}, {1, 2, 3, 4}, 3, 0},
      {{1, 2, 3}, {0, 1, 2, 3}, 0, 3},
      {{5, 5, 5}, {5, 5}, 2, 0},
      // A wide integer whose last bytes are another's whole: not shared.
      {{7, 300, 1}, {7, 44, 1}, 1, 1},
      {{7, 0x80 | 44, 2, 1}, {7, 44, 2, 1}, 1, 2},
      {{1, 200}, {2, 200}, 0, 1},
      {{128, 1}, {0, 1, 1}, 0, 1},
  };
  for (const auto& c : cases) {
    const PackedIntegers::Common same = PackedIntegers::common(packed(c.a), packed(c.b));
    EXPECT_EQ(same.head, c.head) << c.a.size() << " " << c.b.size();
    EXPECT_EQ(same.tail, c.tail) << c.a.size() << " " << c.b.size();
    // The head's bytes end where the integer after it starts.
    const PackedIntegers list = packed(c.a);
    if (same.head < c.a.size()) {
      EXPECT_EQ(PackedIntegers::Reader(list, same.head_bytes).next(), c.a[same.head]);
    }
  }
}

}  // namespace
}  // namespace vorpex
