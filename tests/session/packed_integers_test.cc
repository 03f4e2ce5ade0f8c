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

// A stretch of integers replaced by others, where the lists are short and where the stretch and
// what stays cross blocks of bytes: the list reads back as if it had been made so, its count and
// digits too.
TEST(PackedIntegers, SplicesAStretchInPlace) {
  std::vector<std::uint32_t> many;
  for (std::uint32_t i = 0; i < 100000; ++i)
    many.push_back(i % 7 == 0 ? 300 + i : i % 100);
  const struct {
    std::vector<std::uint32_t> list;
    std::size_t from, to;  // the integers replaced
    std::vector<std::uint32_t> middle;
  } cases[] = {
      {{}, 0, 0, {}},
      {{}, 0, 0, {1, 200, 3}},
      {{1, 200, 3}, 0, 3, {}},
      {{1, 200, 3}, 1, 2, {70000, 5}},
      {{1, 200, 3}, 3, 3, {9}},
      {many, 0, 0, {4}},
      {many, 50000, 50001, {}},
      {many, 10, 99990, {1, 2, 3}},
      {many, 99999, 100000, many},
  };
  for (const auto& c : cases) {
    PackedIntegers list = packed(c.list);
    std::size_t from = 0, to = 0, digits = 0;
    PackedIntegers::Reader reader(list);
    for (std::size_t i = 0; i < c.to; ++i) {
      if (i == c.from) from = reader.at();
      const std::uint32_t v = reader.next();
      if (i >= c.from) digits += PackedIntegers::decimal_digits(v);
    }
    to = reader.at();
    if (c.from == c.to) from = to;
    list.splice(from, to, c.to - c.from, digits, packed(c.middle));
    std::vector<std::uint32_t> expected(c.list.begin(), c.list.begin() + c.from);
    expected.insert(expected.end(), c.middle.begin(), c.middle.end());
    expected.insert(expected.end(), c.list.begin() + c.to, c.list.end());
    const PackedIntegers made = packed(expected);
    ASSERT_EQ(list.size(), expected.size()) << c.from;
    EXPECT_EQ(list.digits(), made.digits()) << c.from;
    EXPECT_EQ(list.bytes(), made.bytes()) << c.from;
    PackedIntegers::Reader back(list);
    for (std::size_t i = 0; i < expected.size(); ++i)
      ASSERT_EQ(back.next(), expected[i]) << c.from << " at " << i;
  }
}

}  // namespace
}  // namespace vorpex
