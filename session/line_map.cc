#include "session/line_map.h"

#include <cstring>

namespace vorpex {

bool LineMap::write(std::string_view bytes) {
  // An output line starts at the first byte, and after every LF that is not the last byte.
  std::size_t from = 0;
  while (from < bytes.size()) {
    if (at_line_start_) {
      rows_.output_line(++output_lines_, input_line_);
      at_line_start_ = false;
    }
    const void* lf = std::memchr(bytes.data() + from, '\n', bytes.size() - from);
    if (lf == nullptr) break;
    from = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
    rows_.output_line_end(input_line_);
    at_line_start_ = true;
  }
  size_ += bytes.size();
  return output_.write(bytes);
}

void MapRowWriter::output_line(std::int64_t output_line, std::int64_t input_line) {
  rows_ += Decimal(output_line).view();
  rows_ += '\t';
  rows_ += Decimal(input_line).view();
  rows_ += '\n';
  if (rows_.size() >= kFlushSize) flush();
}

bool MapRowWriter::flush() {
  const bool ok = map_.write(rows_);
  rows_.clear();
  return ok;
}

}  // namespace vorpex
