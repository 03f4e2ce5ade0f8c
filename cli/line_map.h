#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/diagnostic.h"
#include "engine/writer.h"

namespace vorpex::cli {

// Passes the program's bytes on to the output and writes the line map while they stream: one row
// "OUTPUT_LINE<TAB>INPUT_LINE<LF>" per output line, for the input line during whose processing
// the output line's first byte was written. The engine flushes its output before each input line
// starts and says so, so every byte that arrives here belongs to the line last started.
class LineMap : public ByteSink, public LineObserver {
 public:
  LineMap(ByteSink& output, ByteSink& map) : output_(output), map_(&map) {}
  LineMap(const LineMap&) = delete;
  LineMap& operator=(const LineMap&) = delete;

  bool write(std::string_view bytes) override;
  void line_started(std::int64_t line_number) override { input_line_ = line_number; }

  // Hands the rows gathered so far to the map; false once writing the map has failed.
  bool flush();

 private:
  static constexpr std::size_t kFlushSize = 64 * 1024;
  void add_row();

  ByteSink& output_;
  SinkWriter map_;
  std::string rows_;
  std::int64_t input_line_ = 0;
  std::uint64_t output_lines_ = 0;
  bool at_line_start_ = true;
};

}  // namespace vorpex::cli
