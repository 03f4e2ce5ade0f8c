#include "session/json.h"

#include <gtest/gtest.h>

#include "session/packed_integers.h"

#include <cstdint>
#include <limits>
#include <string>

namespace vorpex {
namespace {

// A packed list is written as the same text, of the size told first, in parts.
TEST(Json, WritesAPackedListAsTheSameArray) {
  struct Text : ByteSink {
    bool write(std::string_view bytes) override {
      text.append(bytes);
      ++parts;
      return true;
    }
    std::string text;
    std::size_t parts = 0;
  };
  for (const std::size_t size : {0u, 1u, 1023u, 1024u, 5000u}) {
    std::string expected = "[";
    PackedIntegers packed;
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint32_t v = i % 3 == 0 ? std::numeric_limits<std::uint32_t>::max()
                                         : static_cast<std::uint32_t>(i * i % 1000);
      if (i > 0) expected += ',';
      expected += std::to_string(v);
      packed.push_back(v);
    }
    expected += ']';
    Text out;
    ASSERT_TRUE(write_json_integers(out, PackedIntegers::Reader(packed), size));
    EXPECT_EQ(out.text, expected) << size;
    EXPECT_EQ(json_integers_size(PackedIntegers::Reader(packed), size), expected.size()) << size;
    EXPECT_EQ(json_integers_size(packed), expected.size()) << size;
    EXPECT_EQ(out.parts > 1, size == 5000) << size;
  }
}

}  // namespace
}  // namespace vorpex
