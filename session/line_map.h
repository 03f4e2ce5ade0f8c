#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/diagnostic.h"
#include "engine/writer.h"

namespace vorpex {

// What the line map tells, as the output streams: which input line each output line came from.
class LineMapRows {
 public:
  virtual ~LineMapRows() = default;
  // Output line `output_line` (from 1) begins with a byte written while input line `input_line`
  // was read.
  virtual void output_line(std::int64_t output_line, std::int64_t input_line) = 0;
  // That output line's line break was written while input line `input_line` was read: the lines
  // from its first on were joined into it.
  virtual void output_line_end(std::int64_t /*input_line*/) {}
  // Input line `input_line` starts when the output holds `output_size` bytes.
  virtual void input_line(std::int64_t /*input_line*/, std::uint64_t /*output_size*/) {}
};

// Passes the program's bytes on to the output and tells `rows` where each output line came from.
// The engine flushes its output before each input line starts and says so, so every byte that
// arrives here belongs to the line last started.
class LineMap : public ByteSink, public LineObserver {
 public:
  LineMap(ByteSink& output, LineMapRows& rows) : output_(output), rows_(rows) {}
  LineMap(const LineMap&) = delete;
  LineMap& operator=(const LineMap&) = delete;

  bool write(std::string_view bytes) override;
  // Goes on from where an earlier map stood: `size` bytes passed on, the last of them a line break
  // when `at_line_start`, while input line `input_line` was read.
  void resume(std::uint64_t size, bool at_line_start, std::int64_t input_line) {
    size_ = size;
    at_line_start_ = at_line_start;
    input_line_ = input_line;
  }
  void line_started(std::int64_t line_number) override {
    input_line_ = line_number;
    rows_.input_line(line_number, size_);
  }

 private:
  ByteSink& output_;
  LineMapRows& rows_;
  std::int64_t input_line_ = 0;
  std::int64_t output_lines_ = 0;
  std::uint64_t size_ = 0;
  bool at_line_start_ = true;
};

// The map as `vorpex --map` writes it: one row "OUTPUT_LINE<TAB>INPUT_LINE<LF>" per output line,
// gathered and handed to `map` in blocks.
class MapRowWriter : public LineMapRows {
 public:
  explicit MapRowWriter(ByteSink& map) : map_(&map) {}
  void output_line(std::int64_t output_line, std::int64_t input_line) override;
  // Hands the rows gathered so far to the map; false once writing the map has failed.
  bool flush();

 private:
  static constexpr std::size_t kFlushSize = 64 * 1024;
  SinkWriter map_;
  std::string rows_;
};

}  // namespace vorpex
