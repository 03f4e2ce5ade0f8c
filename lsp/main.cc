#include "lsp/framing.h"
#include "lsp/server.h"
#include "platform/file.h"

namespace {

class StandardInput : public vorpex::lsp::ByteSource {
 public:
  std::size_t read(std::span<char> buffer) override {
    int error = 0;
    const std::ptrdiff_t got = vorpex::platform::read_some(0, buffer, error);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }
};

}  // namespace

// Serves the language server protocol on standard input and output until the exit notification
// or the end of the input.
int main() {
  if (!vorpex::platform::guard_standard_descriptors()) return 1;
  vorpex::platform::set_binary_standard_streams();
  vorpex::platform::give_back_large_blocks();
  StandardInput input;
  vorpex::platform::FdSink output(1);
  vorpex::lsp::MessageReader reader(input);
  vorpex::lsp::Server server(output);
  // A burst of changes is analysed once: the diagnostics wait while more input is already there.
  server.set_coalescing(true);
  std::string body;
  while (!server.exited()) {
    if (!reader.holds_input() && !vorpex::platform::input_waiting(0)) server.settle();
    const vorpex::lsp::ReadResult read = reader.next(body);
    if (read.status == vorpex::lsp::ReadStatus::End) break;
    if (read.status == vorpex::lsp::ReadStatus::BadHeader) {
      server.header_error("Parse error: " + read.error);
    } else if (read.status == vorpex::lsp::ReadStatus::TooLarge) {
      server.too_large("Invalid request: " + read.error);
    } else {
      server.handle_owned(std::move(body));
    }
  }
  server.settle();
  return server.exit_status();
}
