// Renumbering and moving lines: the input is a source, and the requests are drawn from a hash of
// it (ranges, starts, steps, targets, the largest number, going on past computed jumps). Nothing
// may crash; no renumbering may fail its proof (a refusal that calls itself a fault); the edits
// must stand in order without overlapping and give the text, a renumbering's edits change digits
// into digits; and a renumbering to other numbers and back gives the bytes that a first
// renumbering in steps gave.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bench/source_generator.h"
#include "session/renumber.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "fuzz_renumber: %s: %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

bool digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Checks what every renumbering must hold; true when it was done.
bool check(std::string_view source, const vorpex::RenumberRequest& request,
           const vorpex::RenumberResult& result) {
  if (result.refused()) {
    // A failed proof's refusal ends so; the others may quote the source, which may say "fault".
    if (result.refusal.ends_with("this is a fault of vorpex: please report it"))
      fail("proof failed", result.refusal);
    if (!result.edits.empty() || !result.text.empty()) fail("a refusal with edits", result.refusal);
    return false;
  }
  std::size_t at = 0;
  for (const vorpex::RenumberEdit& edit : result.edits) {
    if (edit.from < at || edit.to < edit.from || edit.to > source.size())
      fail("edits out of order", edit.text);
    if (request.kind == vorpex::RenumberRequest::Kind::Renumber &&
        (!digits(source.substr(edit.from, edit.to - edit.from)) || !digits(edit.text) ||
         edit.text.empty()))
      fail("an edit that is not of digits", edit.text);
    at = edit.to;
  }
  if (vorpex::apply_edits(source, result.edits) != result.text)
    fail("the edits do not give the text", result.text);
  return true;
}

// True when no number in the text begins with a zero (a renumbering writes none).
bool canonical_numbers(std::string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const bool starts = i == 0 || !((text[i - 1] >= '0' && text[i - 1] <= '9') ||
                                    (text[i - 1] >= 'A' && text[i - 1] <= 'Z') ||
                                    (text[i - 1] >= 'a' && text[i - 1] <= 'z'));
    if (starts && text[i] == '0' && text[i + 1] >= '0' && text[i + 1] <= '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 14) return 0;
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  std::uint64_t seed = 1469598103934665603ULL;
  for (std::size_t i = 0; i < size; ++i)
    seed = (seed ^ data[i]) * 1099511628211ULL;
  vorpex::bench::SplitMix64 random(seed);
  vorpex::SessionOptions options;
  options.warnings = random.below(4) != 0;
  if (random.below(8) == 0) options.defines.push_back("X=" + std::to_string(random.below(100)));

  const auto pick = [&] {
    vorpex::RenumberRequest r;
    r.start = random.below(4) == 0 ? random.below(20) : 1 + random.below(1000);
    r.step = 1 + random.below(random.below(2) == 0 ? 3 : 100);
    if (random.below(3) == 0) r.from = random.below(200);
    if (random.below(3) == 0) r.to = random.below(400);
    if (random.below(6) == 0) r.largest = random.below(2) == 0 ? 9999 : random.below(500);
    r.past_computed = random.below(2) == 0;
    if (random.below(3) == 0) {
      r.kind = vorpex::RenumberRequest::Kind::Move;
      r.after = random.below(200);
    }
    return r;
  };
  for (int round = 0; round < 3; ++round) {
    const vorpex::RenumberRequest request = pick();
    check(source, request, vorpex::renumber(source, request, options));
  }

  // In steps, to others, and back.
  vorpex::RenumberRequest steps;
  steps.start = 1 + random.below(100);
  steps.step = 1 + random.below(20);
  steps.past_computed = true;
  const vorpex::RenumberResult first = vorpex::renumber(source, steps, options);
  if (!check(source, steps, first) || !canonical_numbers(first.text)) return 0;
  vorpex::RenumberRequest other = steps;
  other.start = 1 + random.below(1000);
  other.step = 1 + random.below(50);
  const vorpex::RenumberResult there = vorpex::renumber(first.text, other, options);
  if (!check(first.text, other, there)) return 0;
  const vorpex::RenumberResult back = vorpex::renumber(there.text, steps, options);
  if (!check(there.text, steps, back)) fail("renumbered back refused", back.refusal);
  if (back.text != first.text) fail("renumbered back is not the same", back.text);
  return 0;
}
