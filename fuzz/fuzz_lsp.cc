// Feeds arbitrary bytes to the language server as its standard input, after an initialize
// request: the message reader frames them and the server dispatches every message. Whatever
// comes in, each message the server writes must be framed and hold JSON; a broken property
// aborts, so libFuzzer keeps the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lsp/framing.h"
#include "lsp/server.h"
#include "tests/support/memory_io.h"

namespace {

class MemorySource : public vorpex::lsp::ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t read(std::span<char> buffer) override {
    const std::size_t n = std::min(buffer.size(), bytes_.size());
    std::copy_n(bytes_.data(), n, buffer.data());
    bytes_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view bytes_;
};

[[noreturn]] void violated(const char* property) {
  std::fprintf(stderr, "fuzz_lsp: property violated: %s\n", property);
  std::abort();
}

constexpr std::string_view kInitialize =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"capabilities":{}}})";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorpex::testing::StringSink out;
  vorpex::lsp::Server server(out);
  server.handle(kInitialize);
  // A limit well under the real one, so that the skipping of long messages is reached too.
  MemorySource source({reinterpret_cast<const char*>(data), size});
  vorpex::lsp::MessageReader reader(source, 4096);
  std::string body;
  for (;;) {
    const vorpex::lsp::ReadResult read = reader.next(body);
    if (read.status == vorpex::lsp::ReadStatus::End || server.exited()) break;
    if (read.status == vorpex::lsp::ReadStatus::BadHeader) {
      server.header_error(read.error);
    } else if (read.status == vorpex::lsp::ReadStatus::TooLarge) {
      server.too_large(read.error);
    } else {
      server.handle(body);
    }
  }
  MemorySource written(out.text);
  vorpex::lsp::MessageReader check(written);
  for (;;) {
    const vorpex::lsp::ReadResult read = check.next(body);
    if (read.status == vorpex::lsp::ReadStatus::End) break;
    if (read.status != vorpex::lsp::ReadStatus::Message) violated("a reply is framed");
    if (vorpex::lsp::Json::parse(body, nullptr, false).is_discarded()) violated("a reply is JSON");
  }
  return 0;
}
