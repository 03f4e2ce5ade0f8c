#include "lsp/framing.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <tuple>
#include <utility>

namespace vorpex::lsp {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

bool same_name(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

bool MessageReader::fill() {
  if (begin_ > 0 && begin_ == buffer_.size()) {
    buffer_.clear();
    begin_ = 0;
  } else if (begin_ >= kChunk) {
    buffer_.erase(0, begin_);
    begin_ = 0;
  }
  const std::size_t old = buffer_.size();
  buffer_.resize(old + kChunk);
  const std::size_t got = source_.read({buffer_.data() + old, kChunk});
  buffer_.resize(old + std::min(got, kChunk));
  return got > 0;
}

bool MessageReader::skip(std::uint64_t count) {
  while (count > 0) {
    const std::size_t held = buffer_.size() - begin_;
    if (held == 0) {
      if (!fill()) return false;
      continue;
    }
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(held, count));
    begin_ += take;
    count -= take;
  }
  return true;
}

std::uint64_t MessageReader::resync() {
  static constexpr std::string_view kField = "content-length:";
  std::uint64_t skipped = 0;
  for (;;) {
    // The content before it has no line end of its own: the field may follow it at once.
    for (std::size_t at = begin_; at + kField.size() <= buffer_.size(); ++at) {
      if (same_name(std::string_view(buffer_).substr(at, kField.size()), kField)) {
        skipped += at - begin_;
        begin_ = at;
        return skipped;
      }
    }
    // Keeps what could be the start of the field.
    const std::size_t keep = std::min(buffer_.size() - begin_, kField.size());
    skipped += buffer_.size() - begin_ - keep;
    begin_ = buffer_.size() - keep;
    if (!fill()) {
      skipped += buffer_.size() - begin_;
      begin_ = buffer_.size();
      return skipped;
    }
  }
}

namespace {

// The first empty line at or after `from`, in a header that begins at `header`: where the line
// end before it starts (never before the header: a CR there ends what came before), and the bytes
// of both line ends (a CR LF, or a LF alone, each); npos when there is none yet.
std::pair<std::size_t, std::size_t> find_empty_line(std::string_view text, std::size_t header,
                                                    std::size_t from) {
  for (std::size_t lf = text.find('\n', from); lf != std::string_view::npos;
       lf = text.find('\n', lf + 1)) {
    std::size_t next = lf + 1;
    if (next < text.size() && text[next] == '\r') ++next;
    if (next >= text.size()) break;
    if (text[next] != '\n') continue;
    const std::size_t start = lf > header && text[lf - 1] == '\r' ? lf - 1 : lf;
    return {start, next + 1 - start};
  }
  return {std::string_view::npos, 0};
}

}  // namespace

ReadResult MessageReader::next(std::string& body) {
  body.clear();
  // The header: up to the empty line. Its lines end with CR LF; a header whose lines end with a
  // LF alone ends at its own empty line too, so that the message after it is not taken into it.
  std::size_t end;
  std::size_t terminator = 4;
  std::size_t scanned = 0;  // bytes after begin_ known to hold no complete terminator
  for (;;) {
    std::tie(end, terminator) = find_empty_line(buffer_, begin_, begin_ + scanned);
    if (end != std::string::npos) break;
    if (buffer_.size() - begin_ > kHeaderLimit) {
      // Too long to be a header: dropped up to the next empty line.
      const std::size_t keep = 3;
      begin_ = buffer_.size() - keep;
      for (;;) {
        if (!fill()) return {ReadStatus::End, {}};
        end = buffer_.find("\r\n\r\n", begin_);
        if (end != std::string::npos) break;
        begin_ = buffer_.size() - keep;
      }
      begin_ = end + 4;
      return {ReadStatus::BadHeader, "header longer than 8192 bytes"};
    }
    scanned = std::max(buffer_.size() - begin_, std::size_t{3}) - 3;
    if (!fill()) {
      // A partial message at the end of the input is dropped.
      return {ReadStatus::End, {}};
    }
  }
  const std::string_view header(buffer_.data() + begin_, end - begin_);
  begin_ = end + terminator;
  // Lines that end with a LF alone: the header is read, its content skipped, and refused.
  bool lf_only = terminator != 4;
  for (std::size_t lf = header.find('\n'); lf != std::string_view::npos && !lf_only;
       lf = header.find('\n', lf + 1))
    lf_only = lf == 0 || header[lf - 1] != '\r';
  std::uint64_t length = 0;
  bool has_length = false;
  std::string error;
  std::size_t from = 0;
  while (from <= header.size()) {
    std::size_t line_end = header.find('\n', from);
    if (line_end == std::string_view::npos) line_end = header.size();
    std::string_view field = header.substr(from, line_end - from);
    if (!field.empty() && field.back() == '\r') field.remove_suffix(1);
    from = line_end + 1;
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      error = "header field without a name and a colon";
      continue;
    }
    const std::string_view name = field.substr(0, colon);
    const std::string_view value = trim(field.substr(colon + 1));
    if (!same_name(name, "Content-Length")) continue;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
    if (value.empty() || ptr != value.data() + value.size() || ec == std::errc::invalid_argument) {
      error = "Content-Length is not a number";
      has_length = false;
      continue;
    }
    if (ec == std::errc::result_out_of_range) {
      return {ReadStatus::TooLarge, "Content-Length " + std::string(value) +
                                        " is over the limit of " + std::to_string(limit_) +
                                        " bytes"};
    }
    has_length = true;
  }
  if (error.empty() && !has_length) error = "no Content-Length in the header";
  if (error.empty() && lf_only) error = "header lines end with LF, not CR LF";
  if (has_length && length > limit_) {
    skip(length);
    return {ReadStatus::TooLarge, "Content-Length " + std::to_string(length) +
                                      " is over the limit of " + std::to_string(limit_) + " bytes"};
  }
  if (!error.empty()) {
    // The content that a valid length announced goes with its header. Without a length, where the
    // content ends is not known: the reader goes on at the next Content-Length field.
    if (has_length) {
      skip(length);
    } else {
      error += "; " + std::to_string(resync()) + " bytes skipped up to the next Content-Length";
    }
    return {ReadStatus::BadHeader, std::move(error)};
  }
  // The content goes straight into `body`: the buffer holds no more than a chunk beyond it.
  const auto size = static_cast<std::size_t>(length);
  const std::size_t held = std::min(buffer_.size() - begin_, size);
  body.assign(buffer_, begin_, held);
  begin_ += held;
  if (held < size) {
    body.resize(size);
    for (std::size_t got = held; got < size;) {
      const std::size_t n = source_.read({body.data() + got, size - got});
      if (n == 0) return {ReadStatus::End, {}};
      got += n;
    }
  }
  return {ReadStatus::Message, {}};
}

bool write_message(ByteSink& out, std::string_view body) {
  return write_message(out, {body});
}

bool write_message(ByteSink& out, std::size_t size, const std::function<bool(ByteSink&)>& write) {
  // Counts what is written, up to the size the header gave.
  class Counted : public ByteSink {
   public:
    Counted(ByteSink& out, std::size_t room) : out_(out), room_(room) {}
    bool write(std::string_view bytes) override {
      if (bytes.size() > room_) return false;
      room_ -= bytes.size();
      return out_.write(bytes);
    }
    bool full() const { return room_ == 0; }

   private:
    ByteSink& out_;
    std::size_t room_;
  };
  if (!out.write("Content-Length: " + std::to_string(size) + "\r\n\r\n")) return false;
  Counted body(out, size);
  return write(body) && body.full();
}

bool write_message(ByteSink& out, std::initializer_list<std::string_view> body) {
  std::size_t size = 0;
  for (const std::string_view part : body)
    size += part.size();
  const std::string header = "Content-Length: " + std::to_string(size) + "\r\n\r\n";
  // The body is not copied after its header: a document's diagnostics may take megabytes.
  if (!out.write(header)) return false;
  for (const std::string_view part : body) {
    if (!out.write(part)) return false;
  }
  return true;
}

}  // namespace vorpex::lsp
