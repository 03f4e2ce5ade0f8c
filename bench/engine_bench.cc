// vorpex_bench: the engine's throughput on generated sources held in memory, with no file I/O.
//
// Bytes per second count the bytes of the source file (CR LF line ends included); the engine is
// handed the text a text-mode read gives (CRs removed), split on LF by BufferLineSource, and writes
// into a sink that only counts. Each source is generated once, checked to convert without any
// error, and copied afresh (untimed) before each pass, because the engine upper-cases in place.
//
// Extra flag: --vorpex_source_size=SIZE (default 4M): the size of each generated body.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "bench/memory_line_source.h"
#include "bench/source_generator.h"
#include "cli/diagnostics.h"
#include "engine/line_processor.h"
#include "engine/tokenizer.h"

namespace {

using vorpex::bench::Mix;

std::uint64_t g_source_size = std::uint64_t{4} << 20;

struct Source {
  std::string text;  // as a text-mode read gives it: no CR
  std::string work;  // the copy a pass may change, and the padding a file reader gives
  std::size_t file_bytes = 0;
  std::size_t lines = 0;
  std::size_t output_bytes = 0;

  // Restores the working copy.
  void reset() { std::memcpy(work.data(), text.data(), text.size()); }
  // The working copy's text, without the padding.
  std::span<char> lines_text() { return {work.data(), text.size()}; }
};

// A sink that keeps what it is given, for the one checking pass.
class KeepingSink : public vorpex::ByteSink {
 public:
  bool write(std::string_view bytes) override {
    text.append(bytes);
    return true;
  }
  std::string text;
};

[[noreturn]] void fail(const char* what, Mix mix, std::size_t defines) {
  const std::string_view name = vorpex::bench::mix_name(mix);
  std::fprintf(stderr, "vorpex_bench: the %.*s source with %zu definitions %s\n",
               static_cast<int>(name.size()), name.data(), defines, what);
  std::exit(1);
}

// The generated source for a mix and a number of definitions, checked once.
Source& source_for(Mix mix, std::size_t defines, std::size_t used = vorpex::bench::kMaxDefines) {
  static std::map<std::tuple<Mix, std::size_t, std::size_t>, Source> cache;
  auto [it, fresh] = cache.try_emplace({mix, defines, used});
  Source& source = it->second;
  if (!fresh) return source;

  vorpex::bench::SourceOptions options;
  options.body_size = g_source_size;
  options.mix = mix;
  options.defines = defines;
  options.used = used;
  const std::string file = vorpex::bench::generate_source(options);
  source.file_bytes = file.size();
  source.text = vorpex::bench::to_text_mode(file);
  source.work = source.text + std::string(vorpex::kBlockPadding + 1, '\0');
  for (char c : source.text)
    source.lines += c == '\n' ? 1 : 0;

  KeepingSink output;
  KeepingSink warnings;
  vorpex::cli::QuoteWarnings quote_warnings(warnings, nullptr);
  vorpex::LineProcessor processor(output);
  processor.set_diagnostics(&quote_warnings);
  vorpex::bench::BufferLineSource lines(source.lines_text(), vorpex::kBlockPadding);
  const vorpex::ProcessResult result = processor.process_input(lines);
  if (result.outcome != vorpex::Outcome::Done) fail("stops the conversion", mix, defines);
  if (!warnings.text.empty()) fail("has an unbalanced quote", mix, defines);
  if (output.text.find("ERROR") != std::string::npos) fail("gives an error message", mix, defines);
  if (processor.symbols().size() != defines) fail("defines a wrong number of names", mix, defines);
  source.output_bytes = output.text.size();
  source.reset();
  return source;
}

void report(benchmark::State& state, const Source& source) {
  const auto passes = static_cast<std::int64_t>(state.iterations());
  state.SetBytesProcessed(passes * static_cast<std::int64_t>(source.file_bytes));
  state.counters["lines"] =
      benchmark::Counter(static_cast<double>(passes * source.lines), benchmark::Counter::kIsRate);
  state.counters["out/in"] =
      static_cast<double>(source.output_bytes) / static_cast<double>(source.file_bytes);
}

// The whole conversion: tokenizer, line processor, symbol lookups, output buffer; with the fast
// line path unless `fast` is false.
void BM_Convert(benchmark::State& state, Mix mix, std::size_t defines,
                std::size_t used = vorpex::bench::kMaxDefines, bool fast = true) {
  Source& source = source_for(mix, defines, used);
  vorpex::bench::CountingSink sink;
  for (auto _ : state) {
    state.PauseTiming();
    source.reset();
    state.ResumeTiming();
    vorpex::LineProcessor processor(sink);
    processor.set_fast_path(fast);
    vorpex::bench::BufferLineSource lines(source.lines_text(), vorpex::kBlockPadding);
    const vorpex::ProcessResult result = processor.process_input(lines);
    benchmark::DoNotOptimize(result);
  }
  report(state, source);
}

// Where each line of a conversion goes: the line processor counts the lines that the token loop
// took, and, as the output so far is flushed before each line (a line observer asks for that), the
// sink's last byte tells whether the line before left its output line open (a join).
class LineShares : public vorpex::ByteSink, public vorpex::LineObserver {
 public:
  bool write(std::string_view bytes) override {
    if (!bytes.empty()) last_ = bytes.back();
    return true;
  }
  void line_started(std::int64_t) override {
    ++lines;
    if (last_ != '\n') ++after_join;
  }

  std::size_t lines = 0;
  std::size_t after_join = 0;  // lines after one that left its output line open

 private:
  char last_ = '\n';
};

// The shares of the lines that the fast path takes (`taken`) and that go to the token loop
// (`refused`), in percent of all lines; and `join`, the lines after one that left its output line
// open (taken or refused as any other line). One pass.
void BM_FastPathShare(benchmark::State& state, Mix mix, std::size_t defines) {
  Source& source = source_for(mix, defines);
  for (auto _ : state) {
    source.reset();
    vorpex::bench::BufferLineSource text(source.lines_text(), vorpex::kBlockPadding);
    LineShares shares;
    vorpex::LineProcessor processor(shares);
    processor.set_line_observer(&shares);
    processor.process_input(text);
    const auto share = [&](double count) {
      return 100.0 * count / static_cast<double>(shares.lines);
    };
    const auto refused = static_cast<double>(processor.token_loop_lines());
    state.counters["taken%"] = share(static_cast<double>(shares.lines) - refused);
    state.counters["refused%"] = share(refused);
    state.counters["join%"] = share(static_cast<double>(shares.after_join));
  }
}

// The lines of the source one after the other, and with `tokenize` every token the line processor
// would ask for (up to the end of the line, an apostrophe or REM), nothing written.
void read_lines(benchmark::State& state, Mix mix, bool tokenize) {
  Source& source = source_for(mix, 0);
  for (auto _ : state) {
    state.PauseTiming();
    source.reset();
    state.ResumeTiming();
    vorpex::bench::BufferLineSource lines(source.lines_text());
    vorpex::Tokenizer tokenizer;
    std::span<char> line;
    std::size_t tokens = 0;
    while (lines.next_line(line)) {
      if (!tokenize) {
        benchmark::DoNotOptimize(line.data());
        continue;
      }
      tokenizer.set_line(line.data());
      for (;;) {
        const vorpex::TokenKind kind = tokenizer.next_token();
        ++tokens;
        if (kind == vorpex::TokenKind::None || tokenizer.at_line_end()) break;
        if (kind == vorpex::TokenKind::Delimiter && tokenizer.delimiter_char() == '\'') break;
        if (kind == vorpex::TokenKind::Word &&
            vorpex::char_class::is_keyword(tokenizer.token_text(), "REM"))
          break;
      }
    }
    benchmark::DoNotOptimize(tokens);
  }
  report(state, source);
}

// Only splitting the text into lines: the part of every pass that is this harness, not the engine.
void BM_SplitLines(benchmark::State& state, Mix mix) {
  read_lines(state, mix, false);
}

// Only the tokenizer.
void BM_Tokenize(benchmark::State& state, Mix mix) {
  read_lines(state, mix, true);
}

// A family of 936 names that share a part: «AA_SPEED» to «Z9_SPEED» (shared suffix) or
// «SPEED_AA» to «SPEED_Z9» (shared prefix), all defined, then a body of assignments that use them.
// Both bodies are the same but for the names, so the two run alike only if the table spreads both
// families over its slots.
std::string& family_source(bool shared_suffix) {
  static std::map<bool, std::string> cache;
  auto [it, fresh] = cache.try_emplace(shared_suffix);
  if (!fresh) return it->second;
  std::vector<std::string> names;
  constexpr std::string_view kSecond = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (char first = 'A'; first <= 'Z'; ++first) {
    for (char second : kSecond) {
      const std::string pair{first, second};
      names.push_back(shared_suffix ? pair + "_SPEED" : "SPEED_" + pair);
    }
  }
  std::string& text = it->second;
  for (const std::string& name : names)
    text += "DEFINE " + name + " = " + std::to_string(text.size() % 997) + "\n";
  vorpex::bench::SplitMix64 rng(vorpex::bench::kDefaultSeed);
  const auto pick = [&]() -> const std::string& {
    return names[rng.below(static_cast<std::uint32_t>(names.size()))];
  };
  const std::size_t size = static_cast<std::size_t>(g_source_size);
  for (std::uint32_t line = 10; text.size() < size; line += 10) {
    text += std::to_string(line) + " LET X = " + pick() + " + " + pick() + " * " + pick() + "\n";
  }
  return text;
}

void BM_NameFamily(benchmark::State& state, bool shared_suffix) {
  const std::string& text = family_source(shared_suffix);
  std::string work = text;
  vorpex::bench::CountingSink sink;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), text.data(), text.size());
    state.ResumeTiming();
    vorpex::LineProcessor processor(sink);
    vorpex::bench::BufferLineSource lines(work);
    const vorpex::ProcessResult result = processor.process_input(lines);
    if (result.outcome != vorpex::Outcome::Done || processor.symbols().size() != 936) {
      state.SkipWithError("the name family does not convert cleanly");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

BENCHMARK_CAPTURE(BM_Convert, realistic, Mix::Realistic, 0)->Unit(benchmark::kMillisecond);
// Every line through the token loop: what the fast path is measured against.
BENCHMARK_CAPTURE(BM_Convert, realistic_token_loop, Mix::Realistic, 0, vorpex::bench::kMaxDefines,
                  false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, comments, Mix::CommentHeavy, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, strings, Mix::StringHeavy, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, handwritten, Mix::Handwritten, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, handwritten_token_loop, Mix::Handwritten, 0,
                  vorpex::bench::kMaxDefines, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, realistic_50_defines, Mix::Realistic, 50)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, realistic_1000_defines, Mix::Realistic, 1000)
    ->Unit(benchmark::kMillisecond);
// The same body for both, using only names that both define: only the size of the table differs.
BENCHMARK_CAPTURE(BM_Convert, realistic_50_defines_50_used, Mix::Realistic, 50, 50)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, realistic_1000_defines_50_used, Mix::Realistic, 1000, 50)
    ->Unit(benchmark::kMillisecond);
// Names that differ only in their first bytes must not pile up on one slot of the table.
BENCHMARK_CAPTURE(BM_NameFamily, speed_xx, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_NameFamily, xx_speed, true)->Unit(benchmark::kMillisecond);
// The shares of the fast path's decisions, one pass each: its counters are the figures.
BENCHMARK_CAPTURE(BM_FastPathShare, realistic, Mix::Realistic, 0)->Iterations(1);
BENCHMARK_CAPTURE(BM_FastPathShare, comments, Mix::CommentHeavy, 0)->Iterations(1);
BENCHMARK_CAPTURE(BM_FastPathShare, strings, Mix::StringHeavy, 0)->Iterations(1);
BENCHMARK_CAPTURE(BM_FastPathShare, handwritten, Mix::Handwritten, 0)->Iterations(1);
BENCHMARK_CAPTURE(BM_Tokenize, realistic, Mix::Realistic)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SplitLines, realistic, Mix::Realistic)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Takes out the flags of this program before Google Benchmark sees the rest.
  constexpr std::string_view kSizeFlag = "--vorpex_source_size=";
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.starts_with(kSizeFlag)) {
      const auto size = vorpex::bench::parse_size(arg.substr(kSizeFlag.size()));
      if (!size || *size == 0) {
        std::fprintf(stderr, "vorpex_bench: bad size in %s\n", argv[i]);
        return 2;
      }
      g_source_size = *size;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
