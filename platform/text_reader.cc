#include "platform/text_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "engine/simd.h"
#include "platform/file.h"

namespace vorpex::platform {

namespace {

constexpr char kEndOfText = '\x1a';

// Removes every CR from [first, last) and returns the new end.
char* remove_cr(char* first, char* last) {
  char* cr = static_cast<char*>(std::memchr(first, '\r', static_cast<std::size_t>(last - first)));
  if (cr == nullptr) return last;
  if (cr + 1 == last) return cr;  // the usual CR LF line end
  return std::remove(cr, last, '\r');
}

// A buffer of `capacity` usable bytes and the padding after them, which is cleared. Allocated
// without being filled: pages that no read reaches never become resident.
std::unique_ptr<char[]> make_buffer(std::size_t capacity) {
  // new char[] leaves the bytes unset, as make_unique_for_overwrite would (libc++ 14 lacks it).
  constexpr std::size_t kPadding = std::max(kLinePadding, kBlockPadding);
  auto buffer = std::unique_ptr<char[]>(new char[capacity + kPadding]);
  std::memset(buffer.get() + capacity, 0, kPadding);
  return buffer;
}

}  // namespace

TextReader::TextReader(int fd, std::size_t block_size, simd::Level level)
    : fd_(fd),
      block_size_(std::max<std::size_t>(block_size, 1)),
      level_(level),
      buffer_(make_buffer(block_size_ + 1)),
      capacity_(block_size_ + 1) {}

bool TextReader::next_line(std::span<char>& line) {
  for (;;) {
    char* base = buffer_.get();
    char* first = base + begin_;
    const std::size_t pending = end_ - begin_;
    if (scanned_ == 0) {
      // The usual line: its first CR or LF is its LF, or a CR just before it. The marks of the
      // line ends ahead find it, or a scan of the last bytes read, which the padding past the
      // buffer lets read whole blocks. Any other CR, and a line not read whole yet, go the general
      // way below.
      const std::size_t at = first_end();
      if (at < pending) {
        const bool lf = first[at] == '\n';
        if (lf || (at + 1 < pending && first[at + 1] == '\n')) {
          begin_ += at + (lf ? 1 : 2);
          ends_ &= ends_ - 1;  // the line's end, and the CR's LF after it
          if (!lf) ends_ &= ends_ - 1;
          first[at] = '\0';
          line = {first, at};
          return true;
        }
      }
    }
    void* lf = std::memchr(first + scanned_, '\n', pending - scanned_);
    if (lf != nullptr || (at_end_ && pending > 0)) {
      char* last = lf != nullptr ? static_cast<char*>(lf) : base + end_;
      begin_ = static_cast<std::size_t>(last - base) + (lf != nullptr ? 1 : 0);
      scanned_ = 0;
      ends_ = 0;  // marked again from the next line on
      marked_ = 0;
      cr_joins_.scan({first, static_cast<std::size_t>(last - first)});
      last = remove_cr(first, last);
      *last = '\0';  // over the LF, or in the spare byte
      line = {first, static_cast<std::size_t>(last - first)};
      return true;
    }
    scanned_ = pending;
    if (at_end_ || !fill()) return false;
  }
}

namespace {

// The offset of the last LF of text[0, n), or npos: 64 bytes a step backwards, so that a line much
// longer than a step costs little before its run is handed on.
std::size_t last_line_end(const char* text, std::size_t n, simd::Level level) {
  std::size_t end = n;
  for (; end >= simd::kMarked; end -= simd::kMarked) {
    const std::uint64_t ends = simd::mark_either(text + end - simd::kMarked, '\n', '\n', level);
    if (ends != 0) return end - 1 - static_cast<std::size_t>(std::countl_zero(ends));
  }
  return std::string_view(text, end).rfind('\n');
}

}  // namespace

bool TextReader::next_lines(std::span<char>& lines) {
  for (bool filled = false;; filled = true) {
    if (scanned_ == 0) {
      char* const first = buffer_.get() + begin_;
      const std::size_t last = last_line_end(first, end_ - begin_, level_);
      if (last != std::string_view::npos) {
        lines = {first, last + 1};
        cr_joins_.scan_run({first, last + 1}, level_);
        begin_ += last + 1;
        ends_ = 0;  // marked again from the next line on
        marked_ = 0;
        return true;
      }
    }
    // No whole line at hand: read more once; a line still unfinished goes line by line.
    if (filled || at_end_ || !fill()) return false;
    scanned_ = 0;
  }
}

std::size_t TextReader::first_end() {
  while (ends_ == 0) {
    const std::size_t next = std::max(begin_, marked_);
    if (end_ - next < simd::kMarked) {
      // The last bytes read, fewer than a step: a scan of their own, which reads into the padding.
      return next - begin_ +
             simd::find_either(buffer_.get() + next, end_ - next, '\n', '\r', level_);
    }
    ends_ = simd::mark_either(buffer_.get() + next, '\n', '\r', level_);
    ends_from_ = next;
    marked_ = next + simd::kMarked;
  }
  return ends_from_ + static_cast<std::size_t>(std::countr_zero(ends_)) - begin_;
}

bool TextReader::fill() {
  // Keep the unconsumed bytes, moved to the front; grow when they fill the buffer.
  const std::size_t pending = end_ - begin_;
  ends_ = 0;  // the bytes move
  marked_ = 0;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, pending);
    begin_ = 0;
    end_ = pending;
  }
  if (capacity_ - 1 - end_ < std::max<std::size_t>(block_size_ / 2, 1)) {
    const std::size_t capacity = std::max(capacity_ * 2, end_ + block_size_ + 1);
    auto grown = make_buffer(capacity);
    std::memcpy(grown.get(), buffer_.get(), end_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
  }
  std::ptrdiff_t n =
      read_some(fd_, std::span<char>(buffer_.get() + end_, capacity_ - 1 - end_), error_);
  if (n < 0) {
    at_end_ = true;
    begin_ = end_ = 0;  // the partly read line is dropped
    return false;
  }
  if (n == 0) {
    at_end_ = true;
    return pending > 0;
  }
  char* fresh = buffer_.get() + end_;
  if (void* eot = std::memchr(fresh, kEndOfText, static_cast<std::size_t>(n))) {
    n = static_cast<char*>(eot) - fresh;
    at_end_ = true;
  }
  end_ += static_cast<std::size_t>(n);
  return true;
}

}  // namespace vorpex::platform
