#include "bench/source_generator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>

namespace vorpex::bench {

namespace {

// The kinds of statement the body is made of.
enum Statement : std::size_t {
  kAssign,
  kLet,
  kPrint,
  kIf,
  kFor,
  kWhile,
  kGoto,
  kGosub,
  kReturn,
  kDim,
  kInput,
  kStringAssign,
  kData,
  kRead,
  kPoke,
  kOnGoto,
  kCall,
  kMisc,
  kStatementKinds,
};

struct MixProfile {
  std::uint32_t blank;             // percent of lines that are empty or blank
  std::uint32_t full_comment;      // percent of lines that are a comment only
  std::uint32_t label;             // percent of lines that hold only a line number
  std::uint32_t numbered;          // percent of statement lines that begin with a line number
  std::uint32_t trailing_comment;  // percent of statement lines that end in a comment
  std::uint32_t comment_min, comment_max;
  std::uint32_t string_min, string_max;
  std::array<std::uint32_t, kStatementKinds> weights;
};

// Weights in the order of Statement.
constexpr MixProfile kRealistic{
    4, 8, 3, 40, 10, 12, 40, 3, 24, {22, 5, 18, 12, 6, 2, 4, 4, 2, 2, 3, 7, 2, 2, 3, 1, 3, 2}};
constexpr MixProfile kCommentHeavy{
    4, 30, 3, 40, 45, 30, 80, 3, 24, {22, 5, 18, 12, 6, 2, 4, 4, 2, 2, 3, 7, 2, 2, 3, 1, 3, 2}};
constexpr MixProfile kHandwritten{
    4, 6, 6, 35, 40, 8, 40, 3, 30, {22, 5, 18, 12, 6, 2, 4, 4, 2, 2, 3, 7, 2, 2, 3, 1, 3, 2}};
constexpr MixProfile kStringHeavy{
    3, 3, 3, 40, 4, 12, 40, 20, 70, {8, 2, 40, 6, 3, 1, 2, 2, 1, 1, 6, 20, 6, 1, 1, 0, 0, 0}};

const MixProfile& profile(Mix mix) {
  switch (mix) {
    case Mix::CommentHeavy:
      return kCommentHeavy;
    case Mix::StringHeavy:
      return kStringHeavy;
    case Mix::Handwritten:
      return kHandwritten;
    case Mix::Realistic:
      break;
  }
  return kRealistic;
}

// Words for comments and string literals.
constexpr std::array<std::string_view, 64> kVocabulary = {
    "the",    "score",  "player", "loop",  "counter", "value",  "init",   "screen",
    "read",   "data",   "table",  "check", "next",    "enemy",  "move",   "draw",
    "sprite", "sound",  "wait",   "key",   "press",   "total",  "error",  "done",
    "start",  "level",  "game",   "over",  "file",    "line",   "buffer", "clear",
    "set",    "reset",  "update", "speed", "time",    "delay",  "color",  "border",
    "row",    "column", "index",  "array", "string",  "number", "input",  "output",
    "menu",   "option", "select", "save",  "load",    "high",   "low",    "and",
    "for",    "with",   "if",     "not",   "to",      "of",     "a",      "is"};

constexpr std::array<std::string_view, 9> kPunctuation = {", ",  ". ", ": ",    "! ", "? ",
                                                          " - ", "; ", " (1) ", " = "};

// Pieces of names.
constexpr std::array<std::string_view, 64> kFragments = {
    "cnt", "idx", "tot", "sum", "val", "tmp", "pos", "len", "max", "min", "buf", "key", "col",
    "row", "lvl", "hp",  "sc",  "tm",  "dx",  "dy",  "x",   "y",   "z",   "n",   "k",   "i",
    "j",   "a",   "b",   "c",   "p",   "q",   "r",   "s",   "t",   "v",   "w",   "ch",  "id",
    "num", "old", "new", "hi",  "lo",  "spd", "dir", "sz",  "ptr", "ofs", "top", "cur", "nxt",
    "prv", "nm",  "liv", "ene", "bul", "map", "px",  "py",  "vx",  "vy",  "ang", "dst"};

// Words the generator writes as keywords or functions, and the two the tool treats specially;
// no name may equal one of them.
constexpr std::array<std::string_view, 54> kReserved = {
    "REM",    "DEFINE", "LET",       "PRINT", "IF",   "THEN",  "ELSE",   "GOTO",  "GOSUB",
    "RETURN", "FOR",    "TO",        "STEP",  "NEXT", "WHILE", "WEND",   "DIM",   "INPUT",
    "DATA",   "READ",   "POKE",      "PEEK",  "ON",   "SOUND", "LOCATE", "COLOR", "CLS",
    "END",    "STOP",   "RANDOMIZE", "TIMER", "BEEP", "AND",   "OR",     "NOT",   "MOD",
    "ABS",    "INT",    "SGN",       "SQR",   "RND",  "LEN",   "ASC",    "VAL",   "CHR$",
    "MID$",   "LEFT$",  "RIGHT$",    "STR$",  "TRUE", "FALSE", "OFF",    "YES",   "NO"};

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string upper_copy(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    c = upper(c);
  return u;
}

// Builds a name of 1 to max_length characters from one to three fragments, in one of the usual
// cases: UPPER, lower, CapitalizedWords or camelCase (constants are mostly upper case).
std::string make_name(SplitMix64& rng, std::size_t max_length, bool constant) {
  const std::uint32_t style = rng.below(100);
  const std::uint32_t upper_share = constant ? 60 : 35;
  const bool all_upper = style < upper_share;
  const bool all_lower = !all_upper && style < upper_share + 15;
  const bool camel = style >= 85;
  std::string name;
  if (rng.chance(10)) {
    name = std::string(1, "IJKNXYABC"[rng.below(9)]);
    if (all_lower) name[0] = lower(name[0]);
  } else {
    const std::uint32_t parts = rng.between(1, 3);
    for (std::uint32_t i = 0; i < parts; ++i) {
      if (constant && i > 0 && rng.chance(25)) name += '_';
      const std::size_t begin = name.size();
      name += kFragments[rng.below(kFragments.size())];
      for (std::size_t j = begin; j < name.size(); ++j) {
        const bool capital = all_upper || (!all_lower && j == begin && !(camel && i == 0));
        name[j] = capital ? upper(name[j]) : name[j];
      }
    }
  }
  if (name.size() > max_length) name.resize(max_length);
  if (name.size() < max_length && rng.chance(12)) name += static_cast<char>('0' + rng.below(10));
  return name;
}

// Fills `pool` with `count` names that differ, in any case, from each other, from every name in
// `taken` and from the reserved words. The suffix (such as "$") is part of the name.
void fill_names(SplitMix64& rng, std::vector<std::string>& pool, std::size_t count,
                std::size_t max_length, bool constant, std::string_view suffix,
                std::set<std::string>& taken) {
  while (pool.size() < count) {
    std::string name = make_name(rng, max_length - suffix.size(), constant);
    name += suffix;
    std::string key = upper_copy(name);
    bool reserved = false;
    for (std::string_view word : kReserved)
      reserved = reserved || key == word;
    if (reserved || !taken.insert(key).second) continue;
    pool.push_back(std::move(name));
  }
}

void append_number(std::string& out, std::uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

}  // namespace

std::string_view mix_name(Mix mix) {
  switch (mix) {
    case Mix::CommentHeavy:
      return "comments";
    case Mix::StringHeavy:
      return "strings";
    case Mix::Handwritten:
      return "handwritten";
    case Mix::Realistic:
      break;
  }
  return "realistic";
}

std::optional<Mix> parse_mix(std::string_view name) {
  for (Mix mix : {Mix::Realistic, Mix::CommentHeavy, Mix::StringHeavy, Mix::Handwritten}) {
    if (name == mix_name(mix)) return mix;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
  std::uint64_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto result = std::from_chars(first, last, value);
  if (result.ec != std::errc() || result.ptr == first) return std::nullopt;
  const std::string_view suffix(result.ptr, static_cast<std::size_t>(last - result.ptr));
  int shift = 0;
  if (suffix == "K" || suffix == "k") {
    shift = 10;
  } else if (suffix == "M" || suffix == "m") {
    shift = 20;
  } else if (suffix == "G" || suffix == "g") {
    shift = 30;
  } else if (!suffix.empty()) {
    return std::nullopt;
  }
  if (value > (UINT64_MAX >> shift)) return std::nullopt;
  return value << shift;
}

SourceGenerator::SourceGenerator(const SourceOptions& options)
    : options_(options), header_rng_(0), rng_(0) {
  if (options_.defines > kMaxDefines) options_.defines = kMaxDefines;
  // Three independent streams: names, the DEFINE values, the body. The names and the body do not
  // depend on the number of definitions.
  SplitMix64 seeds(options_.seed);
  SplitMix64 names_rng(seeds.next());
  header_rng_ = SplitMix64(seeds.next());
  rng_ = SplitMix64(seeds.next());
  std::set<std::string> taken;
  fill_names(names_rng, constants_, kMaxDefines, 8, true, "", taken);
  fill_names(names_rng, variables_, 250, 8, false, "", taken);
  fill_names(names_rng, string_variables_, 60, 8, false, "$", taken);
  fill_names(names_rng, arrays_, 40, 8, false, "", taken);
}

bool SourceGenerator::next_line(std::string& out) {
  if (defines_written_ < options_.defines) {
    header_line(out);
    return true;
  }
  if (body_bytes_ >= options_.body_size) return false;
  const std::size_t start = out.size();
  body_line(out);
  body_bytes_ += out.size() - start;
  return true;
}

void SourceGenerator::header_line(std::string& out) {
  SplitMix64& rng = header_rng_;
  out += rng.chance(15) ? "define " : "DEFINE ";
  out += constants_[defines_written_++];
  const bool tight = rng.chance(10);
  out += tight ? "=" : " = ";
  const std::uint32_t kind = rng.below(100);
  if (kind < 70) {
    append_number(out, rng.below(10000));
  } else if (kind < 80) {
    append_number(out, rng.below(100));
    out += '.';
    append_number(out, rng.below(10));
  } else if (kind < 90) {
    out += "0x";
    out += "0123456789ABCDEF"[rng.below(16)];
    out += "0123456789ABCDEF"[rng.below(16)];
  } else {
    constexpr std::array<std::string_view, 6> kWords = {"TRUE", "FALSE", "ON", "OFF", "YES", "NO"};
    out += kWords[rng.below(kWords.size())];
  }
  out += "\r\n";
}

void SourceGenerator::body_line(std::string& out) {
  const MixProfile& mix = profile(options_.mix);
  const bool handwritten = options_.mix == Mix::Handwritten;
  tight_ = rng_.chance(25);
  const std::uint32_t roll = rng_.below(100);
  if (roll < mix.blank) {
    if (rng_.chance(30)) indent(out, rng_.between(1, 3));
  } else if (roll < mix.blank + mix.full_comment) {
    if (rng_.chance(handwritten ? 60 : 20)) {
      line_number_ += 10;
      append_number(out, line_number_);
      out += ' ';
    } else {
      indent(out, blocks_.size());
    }
    comment(out);
  } else if (roll < mix.blank + mix.full_comment + mix.label) {
    line_number_ += 10;
    append_number(out, line_number_);
  } else {
    if (rng_.chance(mix.numbered)) {
      line_number_ += 10;
      append_number(out, line_number_);
      out += rng_.chance(80) ? " " : "\t";
      indent(out, blocks_.size());
    } else {
      indent(out, blocks_.size() + 1);
    }
    // Long expressions are drawn again, so that every line stays well below 399 characters.
    const std::size_t depth = blocks_.size();
    std::string line;
    if (handwritten && rng_.chance(10)) {
      long_statement(line);
    } else {
      for (;;) {
        statement(line);
        if (line.size() <= 200) break;
        line.clear();
        blocks_.resize(depth);  // a drawn FOR or WHILE that was too long opens no loop
      }
    }
    // By hand, keywords and names come in any case; strings stay as they are.
    if (handwritten && rng_.chance(40)) {
      bool quoted = false;
      for (char& c : line) {
        quoted = quoted != (c == '"');
        if (!quoted && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
    }
    out += line;
    if (line.size() <= 200 && rng_.chance(mix.trailing_comment)) {
      out += rng_.chance(80) ? " " : "\t";
      if (handwritten) {
        out += "' ";
        text(out, mix.comment_min, mix.comment_max);
      } else {
        comment(out);
      }
    }
  }
  out += "\r\n";
}

void SourceGenerator::statement(std::string& out) {
  const MixProfile& mix = profile(options_.mix);
  // A loop body runs for a few lines, then the loop is closed.
  if (!blocks_.empty() && rng_.chance(20)) {
    const Block block = blocks_.back();
    blocks_.pop_back();
    if (!block.is_for) {
      out += "WEND";
    } else if (rng_.chance(70)) {
      out += "NEXT ";
      out += block.variable;
    } else {
      out += "NEXT";
    }
    return;
  }
  std::uint32_t total = 0;
  for (std::uint32_t w : mix.weights)
    total += w;
  std::uint32_t pick = rng_.below(total);
  std::size_t kind = 0;
  while (pick >= mix.weights[kind]) {
    pick -= mix.weights[kind];
    ++kind;
  }
  if ((kind == kFor || kind == kWhile) && blocks_.size() >= 4) kind = kAssign;
  switch (kind) {
    case kLet:
      out += "LET ";
      [[fallthrough]];
    case kAssign:
      out += variable();
      op(out, "=");
      expression(out, 0);
      break;
    case kPrint: {
      out += "PRINT";
      const std::uint32_t items = rng_.below(4);
      for (std::uint32_t i = 0; i < items; ++i) {
        if (i == 0) {
          out += ' ';
        } else {
          out += rng_.chance(70) ? ';' : ',';
          if (!tight_) out += ' ';
        }
        const std::uint32_t item = rng_.below(100);
        if (item < (options_.mix == Mix::StringHeavy ? 80u : 40u)) {
          string_literal(out, mix.string_min, mix.string_max);
        } else if (item < 88) {
          expression(out, 1);
        } else {
          out += string_variable();
        }
      }
      break;
    }
    case kIf:
      out += "IF ";
      condition(out);
      out += " THEN ";
      if (rng_.chance(40)) {
        out += "GOTO ";
        line_target(out);
      } else if (rng_.chance(20)) {
        line_target(out);
      } else if (rng_.chance(50)) {
        out += variable();
        op(out, "=");
        expression(out, 1);
      } else {
        out += "PRINT ";
        string_literal(out, mix.string_min, mix.string_max);
      }
      if (rng_.chance(10)) {
        out += " ELSE ";
        line_target(out);
      }
      break;
    case kFor: {
      const std::string& v = variable();
      out += "FOR ";
      out += v;
      op(out, "=");
      number(out);
      out += " TO ";
      expression(out, 1);
      if (rng_.chance(15)) {
        out += " STEP ";
        if (rng_.chance(30)) out += '-';
        number(out);
      }
      blocks_.push_back({true, v});
      break;
    }
    case kWhile:
      out += "WHILE ";
      condition(out);
      blocks_.push_back({false, {}});
      break;
    case kGoto:
      out += "GOTO ";
      line_target(out);
      break;
    case kGosub:
      out += "GOSUB ";
      line_target(out);
      break;
    case kReturn:
      out += "RETURN";
      break;
    case kDim: {
      out += "DIM ";
      const std::uint32_t count = rng_.between(1, 3);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0) out += tight_ ? "," : ", ";
        out += rng_.chance(25) ? string_variable() : arrays_[rng_.below(arrays_.size())];
        out += '(';
        append_number(out, rng_.between(1, 255));
        if (rng_.chance(25)) {
          out += ',';
          append_number(out, rng_.between(1, 40));
        }
        out += ')';
      }
      break;
    }
    case kInput:
      out += "INPUT ";
      if (rng_.chance(60)) {
        string_literal(out, mix.string_min, mix.string_max);
        out += tight_ ? ";" : "; ";
      }
      out += rng_.chance(50) ? string_variable() : variable();
      break;
    case kStringAssign: {
      out += string_variable();
      op(out, "=");
      const std::uint32_t form = rng_.below(100);
      if (form < 50 || options_.mix == Mix::StringHeavy) {
        string_literal(out, mix.string_min, mix.string_max);
        if (rng_.chance(30)) {
          op(out, "+");
          out += string_variable();
        }
      } else if (form < 75) {
        out += string_variable();
        op(out, "+");
        string_literal(out, mix.string_min, mix.string_max);
      } else if (form < 90) {
        out += rng_.chance(50) ? "MID$(" : "LEFT$(";
        out += string_variable();
        out += tight_ ? "," : ", ";
        append_number(out, rng_.between(1, 20));
        out += ')';
      } else {
        out += "CHR$(";
        append_number(out, rng_.between(32, 126));
        out += ')';
      }
      break;
    }
    case kData: {
      out += "DATA ";
      const std::uint32_t count = rng_.between(2, 8);
      const bool strings = options_.mix == Mix::StringHeavy || rng_.chance(20);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0) out += tight_ ? "," : ", ";
        if (strings) {
          string_literal(out, mix.string_min / 2 + 1, mix.string_max / 2 + 1);
        } else {
          number(out);
        }
      }
      break;
    }
    case kRead: {
      out += "READ ";
      const std::uint32_t count = rng_.between(1, 3);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0) out += tight_ ? "," : ", ";
        out += variable();
      }
      break;
    }
    case kPoke:
      out += "POKE ";
      expression(out, 1);
      out += tight_ ? "," : ", ";
      expression(out, 1);
      break;
    case kOnGoto: {
      out += "ON ";
      out += variable();
      out += rng_.chance(50) ? " GOTO " : " GOSUB ";
      const std::uint32_t count = rng_.between(2, 5);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0) out += tight_ ? "," : ", ";
        line_target(out);
      }
      break;
    }
    case kCall: {
      constexpr std::array<std::string_view, 3> kCommands = {"SOUND ", "LOCATE ", "COLOR "};
      out += kCommands[rng_.below(kCommands.size())];
      expression(out, 1);
      out += tight_ ? "," : ", ";
      expression(out, 2);
      break;
    }
    default: {
      constexpr std::array<std::string_view, 5> kCommands = {"CLS", "END", "STOP", "BEEP",
                                                             "RANDOMIZE TIMER"};
      out += kCommands[rng_.below(kCommands.size())];
      break;
    }
  }
}

void SourceGenerator::expression(std::string& out, int depth) {
  operand(out, depth);
  const std::uint32_t more = rng_.below(depth == 0 ? 3 : 2);
  for (std::uint32_t i = 0; i < more; ++i) {
    const std::uint32_t kind = rng_.below(100);
    if (kind < 88) {
      op(out, std::string_view("+-*/").substr(rng_.below(4), 1));
    } else {
      constexpr std::array<std::string_view, 3> kWords = {" MOD ", " AND ", " OR "};
      out += kWords[rng_.below(kWords.size())];
    }
    operand(out, depth + 1);
  }
}

void SourceGenerator::operand(std::string& out, int depth) {
  const std::uint32_t kind = rng_.below(depth >= 2 ? 78 : 100);
  if (kind < 40) {
    out += variable();
  } else if (kind < 62) {
    number(out);
  } else if (kind < 78) {
    out += constant();
  } else if (kind < 86) {
    out += arrays_[rng_.below(arrays_.size())];
    out += '(';
    expression(out, depth + 1);
    out += ')';
  } else if (kind < 94) {
    if (rng_.chance(25)) {
      constexpr std::array<std::string_view, 3> kStringFunctions = {"LEN(", "ASC(", "VAL("};
      out += kStringFunctions[rng_.below(kStringFunctions.size())];
      out += string_variable();
    } else {
      constexpr std::array<std::string_view, 6> kFunctions = {"ABS(", "INT(", "SGN(",
                                                              "SQR(", "RND(", "PEEK("};
      out += kFunctions[rng_.below(kFunctions.size())];
      expression(out, depth + 1);
    }
    out += ')';
  } else {
    out += '(';
    expression(out, depth + 1);
    out += ')';
  }
}

void SourceGenerator::condition(std::string& out) {
  constexpr std::array<std::string_view, 6> kRelations = {"=", "<", ">", "<=", ">=", "<>"};
  expression(out, 1);
  op(out, kRelations[rng_.below(kRelations.size())]);
  expression(out, 1);
  if (rng_.chance(20)) {
    out += rng_.chance(50) ? " AND " : " OR ";
    expression(out, 2);
    op(out, kRelations[rng_.below(kRelations.size())]);
    expression(out, 2);
  }
}

void SourceGenerator::number(std::string& out) {
  const std::uint32_t kind = rng_.below(100);
  if (kind < 58) {
    append_number(out, rng_.below(101));
  } else if (kind < 78) {
    append_number(out, rng_.below(65536));
  } else if (kind < 90) {
    append_number(out, rng_.below(100));
    out += '.';
    append_number(out, rng_.below(100));
  } else if (kind < 95) {
    out += "&H";  // the tool reads this as the operator & and the word H...
    out += "0123456789ABCDEF"[rng_.between(1, 15)];
    out += "0123456789ABCDEF"[rng_.below(16)];
    out += "0123456789ABCDEF"[rng_.below(16)];
  } else {
    append_number(out, rng_.between(1, 9));
    out += 'E';
    append_number(out, rng_.between(1, 9));
  }
}

void SourceGenerator::string_literal(std::string& out, std::uint32_t min_length,
                                     std::uint32_t max_length) {
  out += '"';
  text(out, min_length, max_length);
  out += '"';
}

void SourceGenerator::text(std::string& out, std::uint32_t min_length, std::uint32_t max_length) {
  const std::size_t start = out.size();
  const std::size_t target = rng_.between(min_length, max_length);
  bool capital = rng_.chance(50);
  while (out.size() - start < target) {
    std::string_view word = kVocabulary[rng_.below(kVocabulary.size())];
    if (out.size() > start) {
      if (rng_.chance(12)) {
        out += kPunctuation[rng_.below(kPunctuation.size())];
        capital = rng_.chance(50);
      } else {
        out += ' ';
      }
    }
    if (rng_.chance(6)) {
      append_number(out, rng_.below(1000));
      continue;
    }
    out += capital ? upper(word.front()) : word.front();
    out += word.substr(1);
    capital = false;
  }
  if (out.size() - start > max_length) out.resize(start + max_length);
  // No literal ends in a blank, so trimming editors would not change it.
  while (out.size() > start && out.back() == ' ')
    out.back() = '.';
}

void SourceGenerator::comment(std::string& out) {
  const MixProfile& mix = profile(options_.mix);
  out += rng_.chance(60) ? "' " : "REM ";
  text(out, mix.comment_min, mix.comment_max);
}

void SourceGenerator::long_statement(std::string& out) {
  // 128 to 400 bytes with the indentation and a line number, below the 399 of one read.
  const std::size_t target = rng_.between(128, 340);
  out += "PRINT ";
  while (out.size() < target) {
    if (rng_.chance(40)) {
      string_literal(out, 3, 24);
    } else {
      out += variable();
    }
    out += "; ";
  }
  out += variable();
}

void SourceGenerator::indent(std::string& out, std::size_t levels) {
  if (options_.mix == Mix::Handwritten || rng_.chance(30)) {
    out.append(levels, '\t');
  } else {
    out.append(2 * levels, ' ');
  }
}

void SourceGenerator::op(std::string& out, std::string_view symbol) {
  if (!tight_) out += ' ';
  out += symbol;
  if (!tight_) out += ' ';
}

void SourceGenerator::line_target(std::string& out) {
  append_number(out, 10 * std::uint64_t{rng_.between(1, line_number_ / 10 + 50)});
}

const std::string& SourceGenerator::variable() {
  // A few names are used far more often than the rest, as in real programs.
  if (rng_.chance(40)) return variables_[rng_.below(12)];
  return variables_[rng_.below(variables_.size())];
}

const std::string& SourceGenerator::string_variable() {
  return string_variables_[rng_.below(string_variables_.size())];
}

const std::string& SourceGenerator::constant() {
  // Half of the uses go to the first 50 names, the rest to any of the 1000: with 50 definitions
  // about half of the uses are substituted, with 1000 all of them, and the body stays the same.
  const std::size_t used = std::clamp<std::size_t>(options_.used, 1, constants_.size());
  if (rng_.chance(50)) return constants_[rng_.below(std::min<std::size_t>(50, used))];
  return constants_[rng_.below(used)];
}

std::string generate_source(const SourceOptions& options) {
  std::string source;
  source.reserve(options.body_size + options.body_size / 64 + 64 * options.defines + 512);
  SourceGenerator generator(options);
  while (generator.next_line(source)) {
  }
  return source;
}

}  // namespace vorpex::bench
