#pragma once

#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/writer.h"

namespace vorpex::platform {

// How lines end in text that this platform's own tools write to standard error.
#ifdef _WIN32
inline constexpr std::string_view kNativeLineEnd = "\r\n";
#else
inline constexpr std::string_view kNativeLineEnd = "\n";
#endif

// The console as a text stream: every LF written to it is preceded by a CR, so a message ending in
// "\n" ends in CR LF, and a CR LF inside a message arrives as CR CR LF. Bytes are collected and
// handed to the underlying sink by flush(), or when the buffer is full.
class Console : public ByteSink {
 public:
  explicit Console(ByteSink& out) : out_(&out) {}
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console() override { flush(); }

  bool write(std::string_view text) override;
  bool flush();

  // While held, nothing is handed on before flush() (the command line decides where the console
  // goes, after the banner and the file names are written).
  void hold(bool held) { held_ = held; }
  // Sends what follows, and what is still held, to `out` instead.
  void redirect(ByteSink& out) { out_.set_sink(&out); }
  // Drops what follows, and what is still held.
  void silence() { out_.set_sink(nullptr); }

 private:
  static constexpr std::size_t kFlushSize = 16 * 1024;
  SinkWriter out_;  // to no sink when silenced
  bool held_ = false;
  std::string pending_;
};

}  // namespace vorpex::platform
