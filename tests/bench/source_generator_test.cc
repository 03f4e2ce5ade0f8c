#include "bench/source_generator.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bench/memory_line_source.h"
#include "engine/line_processor.h"
#include "tests/support/memory_io.h"

namespace vorpex::bench {
namespace {

using testing::StringSink;

SourceOptions options_for(Mix mix, std::size_t defines, std::uint64_t size = 256 * 1024) {
  SourceOptions options;
  options.body_size = size;
  options.mix = mix;
  options.defines = defines;
  return options;
}

std::vector<std::string_view> split_lines(std::string_view source) {
  std::vector<std::string_view> lines;
  while (!source.empty()) {
    const std::size_t end = source.find("\r\n");
    if (end == source.npos) {
      lines.push_back(source);
      break;
    }
    lines.push_back(source.substr(0, end));
    source.remove_prefix(end + 2);
  }
  return lines;
}

struct Conversion {
  Outcome outcome;
  std::string output;
  std::string warnings;
  std::size_t symbols;
};

Conversion convert(std::string_view source) {
  std::string text = to_text_mode(source);
  StringSink output;
  StringSink warnings;
  LineProcessor processor(output, &warnings);
  BufferLineSource lines(text);
  const ProcessResult result = processor.process_input(lines);
  return {result.outcome, output.text, warnings.text, processor.symbols().size()};
}

// Bytes inside string literals (outside comments), over all bytes.
double string_share(std::string_view source) {
  std::size_t inside = 0;
  for (std::string_view line : split_lines(source)) {
    bool in_string = false;
    for (char c : line) {
      if (c == '"') {
        in_string = !in_string;
      } else if (in_string) {
        ++inside;
      } else if (c == '\'') {
        break;
      }
    }
  }
  return static_cast<double>(inside) / static_cast<double>(source.size());
}

// The words of an output, outside string literals.
std::vector<std::string_view> words_of(std::string_view output) {
  std::vector<std::string_view> words;
  constexpr std::string_view kEnds = " ;,&|+-<>/*%=()'\r\n\t\"";
  std::size_t i = 0;
  while (i < output.size()) {
    const char c = output[i];
    if (c == '"') {
      const std::size_t close = output.find('"', i + 1);
      i = close == output.npos ? output.size() : close + 1;
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      std::size_t end = output.find_first_of(kEnds, i);
      if (end == output.npos) end = output.size();
      words.push_back(output.substr(i, end - i));
      i = end;
    } else {
      ++i;
    }
  }
  return words;
}

TEST(SplitMix64, GivesTheReferenceSequence) {
  SplitMix64 zero(0);
  EXPECT_EQ(zero.next(), 0xe220a8397b1dcdafULL);
  EXPECT_EQ(zero.next(), 0x6e789e6aa1b965f4ULL);
  EXPECT_EQ(zero.next(), 0x06c45d188009454fULL);
  SplitMix64 other(1234567);
  EXPECT_EQ(other.next(), 0x599ed017fb08fc85ULL);
}

TEST(SplitMix64, BelowAndBetweenStayInRange) {
  SplitMix64 rng(42);
  std::vector<int> seen(7);
  for (int i = 0; i < 10000; ++i) {
    const std::uint32_t value = rng.below(7);
    ASSERT_LT(value, 7u);
    ++seen[value];
    const std::uint32_t ranged = rng.between(3, 5);
    ASSERT_GE(ranged, 3u);
    ASSERT_LE(ranged, 5u);
  }
  for (int count : seen)
    EXPECT_GT(count, 1000);  // roughly uniform: 1428 expected for each
}

TEST(ParseSize, TakesBinarySuffixes) {
  EXPECT_EQ(parse_size("0"), 0u);
  EXPECT_EQ(parse_size("4096"), 4096u);
  EXPECT_EQ(parse_size("64K"), 64u * 1024);
  EXPECT_EQ(parse_size("64M"), 64u << 20);
  EXPECT_EQ(parse_size("2g"), std::uint64_t{2} << 30);
  EXPECT_FALSE(parse_size(""));
  EXPECT_FALSE(parse_size("M"));
  EXPECT_FALSE(parse_size("12Q"));
  EXPECT_FALSE(parse_size("1MB"));
  EXPECT_FALSE(parse_size("-1"));
  EXPECT_FALSE(parse_size("99999999999999999999"));
  EXPECT_FALSE(parse_size("17179869184G"));  // overflows 64 bits
}

TEST(ParseMix, KnowsTheFourMixes) {
  EXPECT_EQ(parse_mix("realistic"), Mix::Realistic);
  EXPECT_EQ(parse_mix("comments"), Mix::CommentHeavy);
  EXPECT_EQ(parse_mix("strings"), Mix::StringHeavy);
  EXPECT_EQ(parse_mix("handwritten"), Mix::Handwritten);
  EXPECT_FALSE(parse_mix("Realistic"));
  for (Mix mix : {Mix::Realistic, Mix::CommentHeavy, Mix::StringHeavy, Mix::Handwritten})
    EXPECT_EQ(parse_mix(mix_name(mix)), mix);
}

TEST(SourceGenerator, IsDeterministicAndFollowsTheSeed) {
  const SourceOptions options = options_for(Mix::Realistic, 50, 64 * 1024);
  const std::string first = generate_source(options);
  EXPECT_EQ(generate_source(options), first);
  SourceOptions reseeded = options;
  reseeded.seed = options.seed + 1;
  EXPECT_NE(generate_source(reseeded), first);
}

TEST(SourceGenerator, WritesAtLeastTheRequestedBodyAndStopsSoonAfter) {
  for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{100000}}) {
    const std::string source = generate_source(options_for(Mix::Realistic, 0, size));
    EXPECT_GE(source.size(), size);
    EXPECT_LT(source.size(), size + 400) << size;
  }
}

TEST(SourceGenerator, WritesPlainAsciiLinesEndedByCrLf) {
  for (Mix mix : {Mix::Realistic, Mix::CommentHeavy, Mix::StringHeavy, Mix::Handwritten}) {
    const std::string source = generate_source(options_for(mix, 1000));
    ASSERT_GE(source.size(), 2u);
    EXPECT_EQ(source.substr(source.size() - 2), "\r\n");
    std::size_t longest = 0;
    for (std::string_view line : split_lines(source)) {
      longest = std::max(longest, line.size());
      for (char c : line) {
        ASSERT_TRUE(c == '\t' || (c >= ' ' && c <= '~'))
            << mix_name(mix) << ": byte " << int{static_cast<unsigned char>(c)} << " in «" << line
            << "»";
      }
    }
    EXPECT_LT(longest, 399u) << mix_name(mix);  // no line is ever cut in two by a 400-byte read
  }
}

TEST(SourceGenerator, HandwrittenHasLongLinesTabsAndMixedCase) {
  const std::string source = generate_source(options_for(Mix::Handwritten, 50));
  std::size_t lines = 0, long_lines = 0, tabs = 0, lower = 0, trailing = 0;
  for (std::string_view line : split_lines(source)) {
    ++lines;
    long_lines += line.size() >= 128 ? 1 : 0;
    tabs += line.starts_with("\t") ? 1 : 0;
    lower += line.find("print ") != line.npos ? 1 : 0;
    const std::size_t apostrophe = line.find('\'');
    trailing += apostrophe != line.npos && apostrophe > 0 && line.find('"') == line.npos &&
                        line.find_first_not_of(" \t") < apostrophe
                    ? 1
                    : 0;
  }
  EXPECT_GT(long_lines * 100, lines * 5);  // about one line in ten
  EXPECT_LT(long_lines * 100, lines * 15);
  EXPECT_GT(tabs * 2, lines);
  EXPECT_GT(lower, 100u);
  EXPECT_GT(trailing, 100u);
}

TEST(SourceGenerator, HasTheFeaturesOfARealProgram) {
  const std::string source = generate_source(options_for(Mix::Realistic, 0));
  std::size_t labels = 0, blanks = 0, tab_indented = 0, blank_indented = 0, rem = 0, apostrophe = 0;
  for (std::string_view line : split_lines(source)) {
    if (line.empty() || line.find_first_not_of(" \t") == line.npos) ++blanks;
    if (!line.empty() && line.find_first_not_of("0123456789") == line.npos) ++labels;
    if (line.starts_with("\t")) ++tab_indented;
    if (line.starts_with("  ")) ++blank_indented;
    if (line.find("REM ") != line.npos) ++rem;
    if (line.find('\'') != line.npos) ++apostrophe;
  }
  EXPECT_GT(labels, 100u);
  EXPECT_GT(blanks, 100u);
  EXPECT_GT(tab_indented, 100u);
  EXPECT_GT(blank_indented, 100u);
  EXPECT_GT(rem, 100u);
  EXPECT_GT(apostrophe, 100u);
  for (std::string_view keyword :
       {"PRINT ", "IF ", " THEN ", "GOTO ", "GOSUB ", "FOR ", " TO ", "NEXT", "LET ", "DIM ",
        "INPUT ", "RETURN", "WHILE ", "WEND", "DATA ", "READ ", "\""}) {
    EXPECT_NE(source.find(keyword), source.npos) << keyword;
  }
}

TEST(SourceGenerator, EveryMixConvertsWithoutAnyMessage) {
  for (Mix mix : {Mix::Realistic, Mix::CommentHeavy, Mix::StringHeavy}) {
    for (std::size_t defines : {0u, 50u, 1000u}) {
      const Conversion result = convert(generate_source(options_for(mix, defines)));
      EXPECT_EQ(result.outcome, Outcome::Done) << mix_name(mix) << " " << defines;
      EXPECT_EQ(result.output.find("ERROR"), std::string::npos) << mix_name(mix) << " " << defines;
      EXPECT_EQ(result.warnings, "") << mix_name(mix) << " " << defines;
      EXPECT_EQ(result.symbols, defines) << mix_name(mix);
    }
  }
}

TEST(SourceGenerator, DefinesGoOnTopOfTheSameBody) {
  const std::string body = generate_source(options_for(Mix::Realistic, 0));
  const std::vector<std::string> names =
      SourceGenerator(options_for(Mix::Realistic, 0)).constant_names();
  ASSERT_EQ(names.size(), kMaxDefines);
  for (std::size_t defines : {1u, 50u, 1000u}) {
    const std::string source = generate_source(options_for(Mix::Realistic, defines));
    ASSERT_GT(source.size(), body.size());
    const std::string_view header(source.data(), source.size() - body.size());
    EXPECT_EQ(std::string_view(source).substr(header.size()), body) << defines;
    const std::vector<std::string_view> lines = split_lines(header);
    ASSERT_EQ(lines.size(), defines);
    for (std::size_t i = 0; i < defines; ++i) {
      EXPECT_TRUE(lines[i].starts_with("DEFINE ") || lines[i].starts_with("define ")) << lines[i];
      EXPECT_TRUE(lines[i].substr(7).starts_with(names[i])) << lines[i];
    }
  }
}

TEST(SourceGenerator, DefinedNamesAreUsedInTheBody) {
  const std::vector<std::string> names =
      SourceGenerator(options_for(Mix::Realistic, 0)).constant_names();
  std::set<std::string> first_50, others;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string upper = names[i];
    for (char& c : upper)
      c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    (i < 50 ? first_50 : others).insert(upper);
  }
  const auto count_uses = [&](std::size_t defines) {
    const std::string output =
        convert(generate_source(options_for(Mix::Realistic, defines))).output;
    std::pair<std::size_t, std::size_t> uses;
    for (std::string_view word : words_of(output)) {
      uses.first += first_50.count(std::string(word));
      uses.second += others.count(std::string(word));
    }
    return uses;
  };
  const auto none = count_uses(0);
  EXPECT_GT(none.first, 300u);  // the first 50 names are used often
  EXPECT_GT(none.second, 300u);
  const auto fifty = count_uses(50);
  EXPECT_EQ(fifty.first, 0u);  // all substituted
  EXPECT_EQ(fifty.second, none.second);
  const auto all = count_uses(1000);
  EXPECT_EQ(all.first, 0u);
  EXPECT_EQ(all.second, 0u);
}

TEST(SourceGenerator, MixesShiftTheShareOfCommentsAndStrings) {
  const std::string realistic = generate_source(options_for(Mix::Realistic, 0));
  const std::string comments = generate_source(options_for(Mix::CommentHeavy, 0));
  const std::string strings = generate_source(options_for(Mix::StringHeavy, 0));
  // Comments are dropped: a comment-heavy source loses about half of its bytes more.
  const auto kept = [](const std::string& source) {
    return static_cast<double>(convert(source).output.size()) / static_cast<double>(source.size());
  };
  EXPECT_LT(kept(comments), kept(realistic) - 0.3);
  EXPECT_GT(string_share(strings), 0.45);
  EXPECT_LT(string_share(realistic), 0.25);
  EXPECT_GT(string_share(strings), 2 * string_share(realistic));
}

TEST(BufferLineSource, SplitsOnLfAndEndsEveryLineWithNul) {
  std::string text = "A+B\n\n  PRINT X\nlast";
  BufferLineSource source(text);
  std::vector<std::string> lines;
  std::span<char> line;
  while (source.next_line(line)) {
    ASSERT_EQ(line.data()[line.size()], '\0');
    lines.emplace_back(line.data(), line.size());
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"A+B", "", "  PRINT X", "last"}));
  EXPECT_FALSE(source.next_line(line));

  std::string ends_in_lf = "X\n";
  BufferLineSource one(ends_in_lf);
  ASSERT_TRUE(one.next_line(line));
  EXPECT_EQ(std::string(line.data(), line.size()), "X");
  EXPECT_FALSE(one.next_line(line));

  std::string empty;
  BufferLineSource none(empty);
  EXPECT_FALSE(none.next_line(line));
}

TEST(BufferLineSource, ConvertsLikeALineByLineSource) {
  const std::string source = generate_source(options_for(Mix::CommentHeavy, 50, 32 * 1024));
  std::vector<std::string> lines;
  for (std::string_view line : split_lines(source))
    lines.emplace_back(line);
  testing::VectorLineSource by_line(lines);
  StringSink expected;
  LineProcessor processor(expected);
  processor.process_input(by_line);
  EXPECT_EQ(convert(source).output, expected.text);
}

TEST(ToTextMode, DropsEveryCrAndStopsAtEndOfText) {
  EXPECT_EQ(to_text_mode("A\r\nB\rC\r\n"), "A\nBC\n");
  EXPECT_EQ(to_text_mode(std::string_view("A\nB\x1a\nC", 6)), "A\nB");
}

}  // namespace
}  // namespace vorpex::bench
