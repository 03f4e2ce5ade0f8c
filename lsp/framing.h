#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"

namespace vorpex::lsp {

// Where the reader's bytes come from: standard input, or memory in the tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to buffer.size() bytes; returns the count, 0 at the end of the input (or on error).
  virtual std::size_t read(std::span<char> buffer) = 0;
};

// What MessageReader::next() found.
enum class ReadStatus {
  Message,    // `body` holds a message's content
  BadHeader,  // the header could not be read (`error` says why); the reader skipped it
  TooLarge,   // Content-Length over the limit; the content was skipped unread
  End,        // the end of the input
};

struct ReadResult {
  ReadStatus status = ReadStatus::End;
  std::string error;
};

// Reads the base protocol's messages: header fields, each ended by CR LF, an empty line, then
// Content-Length bytes of content. A header that is too long, without Content-Length, or with a
// field that is not "Name: value" is reported and skipped (after a header without a length, up to
// the next Content-Length field); a message over the limit is skipped without being stored.
class MessageReader {
 public:
  static constexpr std::uint64_t kDefaultLimit = 64ull << 20;
  static constexpr std::size_t kHeaderLimit = 8192;

  explicit MessageReader(ByteSource& source, std::uint64_t limit = kDefaultLimit)
      : source_(source), limit_(limit) {}

  // Reads the next message into `body` (its capacity is reused).
  ReadResult next(std::string& body);
  // True when bytes that have been read are not handed out yet: the next message may be here.
  bool holds_input() const { return begin_ < buffer_.size(); }

 private:
  // Makes at least one more byte available; false at the end of the input.
  bool fill();
  // Drops `count` bytes of input, reading them as they come.
  bool skip(std::uint64_t count);
  // Drops the input up to the next Content-Length field (or to its end); returns how many bytes
  // were dropped.
  std::uint64_t resync();

  ByteSource& source_;
  std::uint64_t limit_;
  std::string buffer_;
  std::size_t begin_ = 0;
};

// Writes one message with its header.
bool write_message(ByteSink& out, std::string_view body);
// The same for a body written in parts, one after another.
bool write_message(ByteSink& out, std::initializer_list<std::string_view> body);
// The same for a body of `size` bytes that `write` writes in parts to the sink it is given (a body
// too large to be held whole). False when it could not be written, or was not `size` bytes.
bool write_message(ByteSink& out, std::size_t size, const std::function<bool(ByteSink&)>& write);

}  // namespace vorpex::lsp
