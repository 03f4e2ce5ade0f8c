#include "engine/cr_joins.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace vorpex {
namespace {

// The count and the place of the first, by the reference and by the steps at every vector level
// the machine runs, with the CRs at every place a step can put them.
TEST(CrJoins, RunsCountAsTheReferenceAtEveryLevel) {
  struct Row {
    std::string text;  // whole lines
    std::uint64_t count;
    std::int64_t lines_before;
    std::size_t column;
  };
  const std::string wide(70, 'x');
  for (const Row& row : std::initializer_list<Row>{
           {"10 A\n20 B\n", 0, 0, 0},
           {"10 A\r\n20 B\r\n", 0, 0, 0},
           {"10 A\r\r\n", 0, 0, 0},  // CRs before the LF end the line
           {"10 A\r20 B\n", 1, 0, 5},
           {"1\n2\n30 A\r\rB\rC\n", 2, 2, 5},  // a run of CRs is one
           {wide + "\r\n" + wide + "\rX\n", 1, 1, 71},
           {std::string(63, 'x') + "\rX\n", 1, 0, 64},  // the CR last in a step
           {std::string(62, 'x') + "\r\r\r\n\rY\n", 1, 1, 1},
       }) {
    CrJoins reference;
    reference.scan(row.text);
    EXPECT_EQ(reference.count, row.count) << row.text;
    if (row.count != 0) {
      EXPECT_EQ(reference.lines_before, row.lines_before) << row.text;
      EXPECT_EQ(reference.column, row.column) << row.text;
    }
    std::string padded = row.text + std::string(simd::kMarked, '\r');
    for (const simd::Level level : simd::kLevels) {
      if (!simd::runs(level)) continue;
      CrJoins steps;
      steps.scan_run({padded.data(), row.text.size()}, level);
      EXPECT_EQ(steps.count, reference.count) << row.text << simd::name(level);
      EXPECT_EQ(steps.lines_before, reference.lines_before) << row.text;
      EXPECT_EQ(steps.column, reference.column) << row.text;
    }
  }
}

}  // namespace
}  // namespace vorpex
