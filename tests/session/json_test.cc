#include "session/json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace vorpex {
namespace {

// Lists of every length around the blocks they are written in, with the widest values.
TEST(Json, WritesAListOfIntegersAsOneArray) {
  for (const std::size_t size : {0u, 1u, 1023u, 1024u, 1025u, 2049u}) {
    std::vector<std::int64_t> values;
    std::string expected = "x[";
    for (std::size_t i = 0; i < size; ++i) {
      const std::int64_t v = i % 3 == 0   ? std::numeric_limits<std::int64_t>::min()
                             : i % 3 == 1 ? static_cast<std::int64_t>(i)
                                          : std::numeric_limits<std::int64_t>::max();
      values.push_back(v);
      if (i > 0) expected += ',';
      expected += std::to_string(v);
    }
    expected += ']';
    std::string out = "x";
    append_json_integers(out, values);
    EXPECT_EQ(out, expected) << size;
  }
}

}  // namespace
}  // namespace vorpex
