// The language server on a large document: the time from a one-character change to its new
// diagnostics (the notification written), and the memory an open document holds. Not a test: it
// prints its measures.
//   vorpex_lsp_bench [LINES [MIX]]   (10000 lines of the realistic mix by default; MIX as
//   vorpex_gen takes it: realistic, comments, strings, handwritten)
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "bench/source_generator.h"
#include "lsp/server.h"

namespace {

// The bytes allocated and not yet freed, counted by the program's own operator new and delete.
std::size_t live_bytes = 0;

class CountingSink : public vorpex::ByteSink {
 public:
  bool write(std::string_view bytes) override {
    written += bytes.size();
    return true;
  }
  std::size_t written = 0;
};

}  // namespace

void* operator new(std::size_t size) {
  // The size is kept in front of the block, so that delete knows what it frees.
  auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::max_align_t)));
  if (block == nullptr) throw std::bad_alloc();
  *block = size;
  live_bytes += size;
  return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
}
void operator delete(void* pointer) noexcept {
  if (pointer == nullptr) return;
  auto* block =
      reinterpret_cast<std::size_t*>(static_cast<char*>(pointer) - sizeof(std::max_align_t));
  live_bytes -= *block;
  std::free(block);
}
void operator delete(void* pointer, std::size_t) noexcept {
  operator delete(pointer);
}

int main(int argc, char** argv) {
  using vorpex::lsp::Json;
  const std::size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
  vorpex::bench::SourceOptions options;
  if (argc > 2) {
    const std::optional<vorpex::bench::Mix> mix = vorpex::bench::parse_mix(argv[2]);
    if (!mix) {
      std::fprintf(stderr, "unknown mix: %s\n", argv[2]);
      return 2;
    }
    options.mix = *mix;
  }
  options.defines = 50;
  options.used = 50;
  options.body_size = ~std::uint64_t{0};
  vorpex::bench::SourceGenerator generator(options);
  std::string text;
  for (std::size_t i = 0; i < lines && generator.next_line(text); ++i) {
  }
  const std::string uri = "file:///bench.bas";

  CountingSink sink;
  vorpex::lsp::Server server(sink);
  server.handle(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}})");
  std::string open =
      Json{{"jsonrpc", "2.0"},
           {"method", "textDocument/didOpen"},
           {"params",
            {{"textDocument",
              {{"uri", uri}, {"languageId", "vorpex"}, {"version", 1}, {"text", text}}}}}}
          .dump();
  const std::size_t before = live_bytes;
  server.handle(open);
  const std::size_t held = live_bytes - before;
  open.clear();
  open.shrink_to_fit();
  {
    // The document as the user sees it, with warnings.
    const vorpex::lsp::OpenDocument* document = server.document(uri);
    std::size_t kinds[16] = {};
    std::size_t diagnostic_bytes = 0;
    for (const auto& d : document->diagnostics()) {
      ++kinds[static_cast<int>(d.kind)];
      diagnostic_bytes += sizeof d + (d.found.size() > 15 ? d.found.capacity() : 0) +
                          (d.other.size() > 15 ? d.other.capacity() : 0);
    }
    std::printf("document: %zu lines, %zu bytes, %zu diagnostics, %zu missing line targets\n",
                lines, text.size(), document->diagnostics().size(), document->missing.size());
    for (int k = 0; k < 16; ++k) {
      if (kinds[k] != 0) std::printf("  kind %d: %zu\n", k, kinds[k]);
    }
    std::printf(
        "memory held for the open document: %zu bytes, %.2f times its size; without its "
        "diagnostics (%zu bytes): %.2f times\n",
        held, static_cast<double>(held) / static_cast<double>(text.size()), diagnostic_bytes,
        static_cast<double>(held - diagnostic_bytes) / static_cast<double>(text.size()));
  }

  // One character typed in the middle of the document, then taken back, again and again.
  int version = 1;
  // A blank typed at the start of the middle line (`type`), or taken back.
  const auto middle_change = [&](bool type) {
    const std::int64_t line = static_cast<std::int64_t>(lines / 2);
    Json range;
    range["start"] = {{"line", line}, {"character", 0}};
    range["end"] = {{"line", line}, {"character", type ? 0 : 1}};
    Json message;
    message["jsonrpc"] = "2.0";
    message["method"] = "textDocument/didChange";
    message["params"]["textDocument"] = {{"uri", uri}, {"version", ++version}};
    message["params"]["contentChanges"] =
        Json::array({{{"range", range}, {"text", type ? " " : ""}}});
    return message.dump();
  };
  const auto measure = [&](const char* what) {
    std::vector<double> times;
    std::vector<double> cpu;
    for (int i = 0; i < 200; ++i) {
      const std::string change = middle_change(i % 2 == 0);
      const std::size_t written = sink.written;
      const std::clock_t cpu_start = std::clock();
      const auto start = std::chrono::steady_clock::now();
      server.handle(change);
      const auto end = std::chrono::steady_clock::now();
      cpu.push_back(1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC);
      if (sink.written == written) {
        std::fprintf(stderr, "no diagnostics were published\n");
        std::exit(1);
      }
      times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    // The processor time too: on a loaded machine the wall clock counts other programs' turns.
    std::printf("%s, processor time of a change: median %.2f ms\n", what, cpu[cpu.size() / 2]);
    return times;
  };
  const std::vector<double> times = measure("with warnings");
  server.handle(
      R"({"jsonrpc":"2.0","method":"workspace/didChangeConfiguration","params":{"settings":{"warnings":false}}})");
  const std::vector<double> quiet = measure("with warnings off");

  // The analysis alone, for comparison.
  std::vector<double> analysis_times;
  for (int i = 0; i < 50; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const vorpex::Analysis analysis = vorpex::analyze(text);
    analysis_times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(analysis_times.begin(), analysis_times.end());
  std::printf("the analysis alone: median %.2f ms\n", analysis_times[analysis_times.size() / 2]);
  std::printf("change to new diagnostics: median %.2f ms, 90th percentile %.2f ms, max %.2f ms\n",
              times[times.size() / 2], times[times.size() * 9 / 10], times.back());
  std::printf(
      "the same with warnings off (no diagnostic to publish): median %.2f ms, max %.2f ms\n",
      quiet[quiet.size() / 2], quiet.back());

  // Semantic tokens, in full and of a range of 100 lines, in processor time.
  const auto cpu_ms = [](const auto& work) {
    const std::clock_t start = std::clock();
    work();
    return 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  };
  const auto request = [&](vorpex::lsp::Server& on, const char* method, Json params) {
    on.handle(Json{{"jsonrpc", "2.0"}, {"id", 7}, {"method", method}, {"params", std::move(params)}}
                  .dump());
  };
  const Json document_id = {{"uri", uri}};
  std::printf(
      "semantic tokens, full: %.1f ms; a range of 100 lines: %.2f ms\n", cpu_ms([&] {
        request(server, "textDocument/semanticTokens/full", {{"textDocument", document_id}});
      }),
      cpu_ms([&] {
        const auto middle = static_cast<std::int64_t>(lines / 2);
        request(server, "textDocument/semanticTokens/range",
                {{"textDocument", document_id},
                 {"range",
                  {{"start", {{"line", middle}, {"character", 0}}},
                   {"end", {{"line", middle + 100}, {"character", 0}}}}}});
      }));

  // The same after a change in the middle, from the tokens kept: in full, and as a delta.
  server.handle(middle_change(true));
  const double full_after = cpu_ms([&] {
    request(server, "textDocument/semanticTokens/full", {{"textDocument", document_id}});
  });
  server.handle(middle_change(false));
  const std::size_t written = sink.written;
  const double delta_after = cpu_ms([&] {
    request(server, "textDocument/semanticTokens/full/delta",
            {{"textDocument", document_id}, {"previousResultId", "2"}});  // the full tokens' id
  });
  std::printf(
      "semantic tokens after a change: full %.1f ms; a delta %.2f ms (%zu bytes of reply)\n",
      full_after, delta_after, sink.written - written);

  // Completion of a jump's line number (every number that begins a line), in the middle.
  if (const std::size_t jump = text.find("GOTO ", text.size() / 2); jump != std::string::npos) {
    const std::size_t line_start = text.rfind('\n', jump) + 1;  // 0 on the first line
    const Json position = {
        {"line", std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(jump), '\n')},
        {"character", jump + 5 - line_start}};
    std::printf("completion of a jump's line number: %.1f ms\n", cpu_ms([&] {
                  request(server, "textDocument/completion",
                          {{"textDocument", document_id}, {"position", position}});
                }));
  }

  // Completion of a word (the constants and the document's words), after the middle line's
  // number.
  {
    const std::size_t middle = text.find('\n', text.size() / 2) + 1;
    const Json position = {
        {"line",
         std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(middle), '\n')},
        {"character", text.find_first_not_of("0123456789", middle) - middle}};
    std::printf("completion of a word: %.1f ms\n", cpu_ms([&] {
                  request(server, "textDocument/completion",
                          {{"textDocument", document_id}, {"position", position}});
                }));
  }

  // Code actions over the whole document, as an editor asks after Ctrl+A, with warnings on.
  server.handle(
      R"({"jsonrpc":"2.0","method":"workspace/didChangeConfiguration","params":{"settings":{"warnings":true}}})");
  const std::size_t before_actions = sink.written;
  const double actions = cpu_ms([&] {
    request(server, "textDocument/codeAction",
            {{"textDocument", document_id},
             {"range",
              {{"start", {{"line", 0}, {"character", 0}}},
               {"end", {{"line", static_cast<std::int64_t>(lines)}, {"character", 0}}}}},
             {"context", {{"diagnostics", Json::array()}}}});
  });
  std::printf("code actions over the whole document: %.1f ms, %zu bytes of reply\n", actions,
              sink.written - before_actions);

  // A burst of 1000 changes that arrive together: the publications it causes, and the processor
  // time from the first change to the last diagnostics.
  server.set_coalescing(true);
  const std::size_t published = sink.written;
  std::size_t publications = 0;
  const double burst = cpu_ms([&] {
    for (int i = 0; i < 1000; ++i) {
      Json message;
      message["jsonrpc"] = "2.0";
      message["method"] = "textDocument/didChange";
      message["params"]["textDocument"] = {{"uri", uri}, {"version", ++version}};
      message["params"]["contentChanges"] =
          Json::array({{{"range",
                         {{"start", {{"line", 3}, {"character", 0}}},
                          {"end", {{"line", 3}, {"character", 0}}}}},
                        {"text", "1"}}});
      server.handle(message.dump());
    }
    const std::size_t before_settle = sink.written;
    server.settle();
    publications = (before_settle != published ? 1 : 0) + (sink.written != before_settle ? 1 : 0);
  });
  std::printf(
      "1000 changes at once: %.1f ms of processor time to the last diagnostics, %zu "
      "publication(s)\n",
      burst, publications);

  // One line of 400 KB, in UTF-16 positions: its semantic tokens and its diagnostics.
  std::string line;
  while (line.size() < 400000)
    line += "ABC ";
  line += "\"open\n";
  vorpex::lsp::Server wide(sink);
  wide.handle(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}})");
  const double opened = cpu_ms([&] {
    wide.handle(Json{{"jsonrpc", "2.0"},
                     {"method", "textDocument/didOpen"},
                     {"params",
                      {{"textDocument",
                        {{"uri", uri}, {"languageId", "vorpex"}, {"version", 1}, {"text", line}}}}}}
                    .dump());
  });
  std::printf(
      "a line of 400 KB in UTF-16: opened with its diagnostics %.1f ms, semantic tokens "
      "%.1f ms\n",
      opened, cpu_ms([&] {
        request(wide, "textDocument/semanticTokens/full", {{"textDocument", document_id}});
      }));
  return 0;
}
