#include "engine/symbol_table.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/engine_probes.h"

namespace vorpex {
namespace {

// The table changes its arguments in place, as the line processor's buffers allow.
bool add(SymbolTable& table, std::string name, std::string value) {
  return table.add_symbol(name, value);
}
bool find(SymbolTable& table, std::string name) {
  return SymbolTableProbe::find_symbol(table, name);
}
std::string numbered(std::string prefix, int i) {
  return prefix.append(std::to_string(i));
}

TEST(SymbolTableTest, MatchesNamesInAnyCase) {
  SymbolTable table;
  EXPECT_FALSE(find(table, "MAX"));
  ASSERT_TRUE(add(table, "max", "100"));
  for (const char* name : {"MAX", "Max", "max"}) {
    EXPECT_TRUE(find(table, name)) << name;
    EXPECT_EQ(table.found_value(), "100");
  }
  EXPECT_FALSE(find(table, "MA"));
  EXPECT_FALSE(find(table, "MAXI"));
}

TEST(SymbolTableTest, UpperCasesArgumentsInPlace) {
  SymbolTable table;
  std::string name = "out";
  std::string value = "print";
  ASSERT_TRUE(table.add_symbol(name, value));
  EXPECT_EQ(name, "OUT");
  EXPECT_EQ(value, "PRINT");
  std::string lookup = "Out";
  ASSERT_TRUE(SymbolTableProbe::find_symbol(table, lookup));
  EXPECT_EQ(lookup, "OUT");
  EXPECT_EQ(table.found_value(), "PRINT");
}

TEST(SymbolTableTest, KeepsTheFirstDefinition) {
  SymbolTable table;
  ASSERT_TRUE(add(table, "A", "1"));
  EXPECT_FALSE(add(table, "a", "2"));
  ASSERT_TRUE(find(table, "A"));
  EXPECT_EQ(table.found_value(), "1");
  EXPECT_EQ(table.size(), 1u);
}

TEST(SymbolTableTest, FailedLookupKeepsTheLastFoundValue) {
  SymbolTable table;
  ASSERT_TRUE(add(table, "A", "1"));
  ASSERT_TRUE(find(table, "A"));
  EXPECT_FALSE(find(table, "B"));
  EXPECT_EQ(table.found_value(), "1");
}

TEST(SymbolTableTest, HoldsAThousandRowsAndValuesStayValid) {
  SymbolTable table;
  ASSERT_TRUE(add(table, "S0", "V0"));
  ASSERT_TRUE(find(table, "S0"));
  const std::string_view first = table.found_value();
  for (int i = 1; i < 1000; ++i) {
    ASSERT_TRUE(add(table, numbered("S", i), numbered("V", i))) << i;
  }
  EXPECT_FALSE(add(table, "EXTRA", "1"));
  EXPECT_FALSE(find(table, "EXTRA"));
  EXPECT_EQ(first, "V0");  // rows never move
  for (int i = 0; i < 1000; i += 111) {
    ASSERT_TRUE(find(table, numbered("s", i)));
    EXPECT_EQ(table.found_value(), numbered("V", i));
  }
  SymbolTableProbe::clear(table);
  EXPECT_FALSE(find(table, "S0"));
  EXPECT_TRUE(add(table, "S0", "again"));
}

TEST(SymbolTableTest, KeepsLongNamesAndValuesWhole) {
  SymbolTable table;
  const std::string name(10000, 'N');
  ASSERT_TRUE(add(table, name, "1234567890"));
  ASSERT_TRUE(add(table, name.substr(0, 31), "x"));  // a prefix is another name
  ASSERT_TRUE(find(table, name));
  EXPECT_EQ(table.found_value(), "1234567890");
  ASSERT_TRUE(add(table, "V", std::string(5000, 'v')));
  ASSERT_TRUE(find(table, "V"));
  EXPECT_EQ(table.found_value(), std::string(5000, 'V'));
}

// Families of names as programs write them: however the names resemble each other, no lookup may
// walk far through the table.
TEST(SymbolTableTest, SpreadsStructuredNameFamilies) {
  constexpr std::string_view kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const auto pairs = [&](std::string_view before, std::string_view after) {
    std::vector<std::string> names;
    for (char a : kChars.substr(0, 26)) {
      for (char b : kChars) {
        std::string name(before);
        name += a;
        name += b;
        names.push_back(name.append(after));
      }
    }
    return names;
  };
  const auto one_byte_differs = [&](std::size_t length) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at < length; ++at) {
      for (char c : kChars.substr(0, 1000 / length)) {
        std::string name(length, '_');
        name[at] = c;
        names.push_back(name);
      }
    }
    return names;
  };
  const auto numbered_names = [](std::string prefix, std::string suffix) {
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i)
      names.push_back(numbered(prefix, i) + suffix);
    return names;
  };
  // Names found by trying numbered names against the hash until a thousand land on one slot, as
  // anyone can who reads the code: the table hashes them again with another key.
  const auto colliding = [] {
    std::vector<std::string> names;
    const std::size_t slot = SymbolTableProbe::first_slot("C0");
    for (int i = 0; names.size() < 1000; ++i) {
      std::string name = numbered("C", i);
      if (SymbolTableProbe::first_slot(name) == slot) names.push_back(name);
    }
    return names;
  };
  const struct {
    const char* family;
    std::vector<std::string> names;
  } families[] = {
      {"crafted to collide", colliding()},
      {"shared suffix", pairs("", "_SPEED")},
      {"shared prefix", pairs("SPEED_", "")},
      {"shared long suffix", pairs("", "_MOTOR_SPEED_LIMIT")},
      {"one byte differs, 8 bytes", one_byte_differs(8)},
      {"one byte differs, 20 bytes", one_byte_differs(20)},
      {"numbered", numbered_names("S", "")},
      {"numbered in the middle", numbered_names("LED", "_PIN")},
  };
  for (const auto& [family, names] : families) {
    SymbolTable table;
    for (const std::string& name : names)
      ASSERT_TRUE(add(table, name, "1")) << family << ": " << name;
    EXPECT_LE(SymbolTableProbe::longest_probe(table), 12u) << family;
  }
}

}  // namespace
}  // namespace vorpex
