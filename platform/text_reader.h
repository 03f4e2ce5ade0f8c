#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "engine/line_source.h"
#include "engine/simd.h"

namespace vorpex::platform {

// Reads a file descriptor as text, in large blocks: every CR byte is removed wherever it stands,
// the byte 0x1A ends the input, and lines end at LF. A line of any length is delivered whole. So
// that every read asks for at least half a block, the buffer doubles when an unfinished line
// leaves less than that free: it stays at one block unless a line longer than half a block
// arrives, and never exceeds twice the longest line plus a block. Only the bytes read are ever
// touched, so the memory in use follows the longest line, not the buffer's size.
class TextReader : public LineSource {
 public:
  static constexpr std::size_t kBlockSize = 128 * 1024;

  // Does not take ownership of `fd`. `level`: the vector instructions that find the line ends, one
  // that simd::runs().
  explicit TextReader(int fd, std::size_t block_size = kBlockSize, simd::Level level = simd::kBest);

  bool next_line(std::span<char>& line) override;
  // Every whole line that the buffer holds, reading more first when it holds none; the buffer holds
  // kBlockPadding bytes past its last usable byte.
  bool next_lines(std::span<char>& lines) override;
  const CrJoins* cr_joins() const override { return &cr_joins_; }

  // After next_line() returned false: whether reading failed, and the error number.
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }
  // The bytes the line buffer holds now: the block size, or more after a longer line arrived.
  std::size_t buffer_capacity() const { return capacity_; }

 private:
  // Reads more bytes after the unconsumed ones; returns false at the end of input or on error.
  bool fill();
  // The offset from `begin_` of the first CR or LF read, or `end_ - begin_` when there is none.
  std::size_t first_end();

  int fd_;
  std::size_t block_size_;
  simd::Level level_;
  // One spare byte past `end_` always holds the line's NUL, and kLinePadding bytes follow the
  // last usable byte, so that a line may be read a block at a time.
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;     // the buffer's usable bytes, the spare one included
  std::size_t begin_ = 0;    // the first unconsumed byte
  std::size_t end_ = 0;      // one past the last byte read
  std::size_t scanned_ = 0;  // bytes from `begin_` known to hold no LF
  // The line ends ahead, marked kMarked bytes at a time (several lines a step): bit i of `ends_`
  // marks a CR or LF at `ends_from_` + i. With the marks of the lines passed cleared, it holds
  // every CR and LF from `begin_` up to `marked_`: 0 when none is marked ahead.
  std::uint64_t ends_ = 0;
  std::size_t ends_from_ = 0;
  std::size_t marked_ = 0;
  bool at_end_ = false;
  int error_ = 0;
  CrJoins cr_joins_;
};

}  // namespace vorpex::platform
