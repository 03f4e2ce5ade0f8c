#pragma once

// A deterministic generator of realistic BASIC sources, for the benchmarks and for timing the tool
// against other programs. The same options give the same bytes on every machine and with every
// standard library: the generator uses its own PRNG and no std:: distributions.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorpex::bench {

// splitmix64: a small, fast PRNG whose output is fixed by its seed alone.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // A number in [0, n), for n > 0 (multiply-shift on the high 32 bits; the tiny bias is harmless).
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32);
  }
  // A number in [lo, hi].
  std::uint32_t between(std::uint32_t lo, std::uint32_t hi) { return lo + below(hi - lo + 1); }
  // True with the given chance in percent.
  bool chance(std::uint32_t percent) { return below(100) < percent; }

 private:
  std::uint64_t state_;
};

// What the body is mostly made of.
enum class Mix {
  Realistic,     // statements with some comments and strings
  CommentHeavy,  // about 60% of the bytes are REM and apostrophe comments
  StringHeavy,   // about 60% of the bytes are string literals
  // As people write by hand: indented with TABs, comments after statements, labels and numbered
  // REM lines that join the next line, mixed case, and one line in ten 128 to 400 bytes long.
  Handwritten,
};

std::string_view mix_name(Mix mix);
// Accepts the names mix_name gives: "realistic", "comments", "strings", "handwritten".
std::optional<Mix> parse_mix(std::string_view name);

// Parses a byte count with an optional binary suffix: "4096", "64K", "64M", "1G".
std::optional<std::uint64_t> parse_size(std::string_view text);

inline constexpr std::uint64_t kDefaultSeed = 0x5eed0f0bA51CULL;
// The symbol table of the tool holds this many names; more DEFINE lines would be refused.
inline constexpr std::size_t kMaxDefines = 1000;

struct SourceOptions {
  // Bytes of the body: lines are generated until the body holds at least this many bytes.
  std::uint64_t body_size = std::uint64_t{1} << 20;
  Mix mix = Mix::Realistic;
  // DEFINE lines written before the body, at most kMaxDefines. The body uses the same pool of
  // constant names whatever their number, so the body is byte for byte the same for 0, 50 or 1000
  // definitions: only how many of its names are defined changes.
  std::size_t defines = 0;
  // The body's constant names come from the first `used` names of the pool (at most kMaxDefines).
  // With `used` no larger than the smaller of two `defines`, both bodies are the same and every
  // name they use is defined: only the size of the table differs.
  std::size_t used = kMaxDefines;
  std::uint64_t seed = kDefaultSeed;
};

// Produces the source line by line. Every line ends in CR LF. No token begins with a byte that
// stops the conversion (no «:», «.», «#», «?» and no byte 0x80-0xFF anywhere; string literals are
// always closed on their line, names never collide with REM or DEFINE, and every DEFINE line is
// well formed and defines a new name).
class SourceGenerator {
 public:
  explicit SourceGenerator(const SourceOptions& options);

  // Appends the next line, with its CR LF, to `out` and returns true; returns false when the
  // source is complete.
  bool next_line(std::string& out);

  // The constant names the body draws from; the first `defines` of them are defined at the top.
  const std::vector<std::string>& constant_names() const { return constants_; }

 private:
  struct Block {
    bool is_for;  // FOR ... NEXT, else WHILE ... WEND
    std::string variable;
  };

  void header_line(std::string& out);
  void body_line(std::string& out);
  void statement(std::string& out);
  void expression(std::string& out, int depth);
  void operand(std::string& out, int depth);
  void condition(std::string& out);
  void number(std::string& out);
  void string_literal(std::string& out, std::uint32_t min_length, std::uint32_t max_length);
  void text(std::string& out, std::uint32_t min_length, std::uint32_t max_length);
  void comment(std::string& out);
  void indent(std::string& out, std::size_t levels);
  void long_statement(std::string& out);               // a PRINT list of 128 to 400 bytes
  void op(std::string& out, std::string_view symbol);  // an operator, spaced as the line is
  void line_target(std::string& out);
  const std::string& variable();
  const std::string& string_variable();
  const std::string& constant();

  SourceOptions options_;
  SplitMix64 header_rng_;
  SplitMix64 rng_;  // the body's own stream, untouched by the header
  std::vector<std::string> variables_;
  std::vector<std::string> string_variables_;  // end in $
  std::vector<std::string> arrays_;
  std::vector<std::string> constants_;
  std::vector<Block> blocks_;
  std::size_t defines_written_ = 0;
  std::uint64_t body_bytes_ = 0;
  std::uint32_t line_number_ = 0;  // the last line number written
  bool tight_ = false;             // this line writes operators without blanks
};

// The whole source at once.
std::string generate_source(const SourceOptions& options);

}  // namespace vorpex::bench
