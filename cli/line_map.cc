#include "cli/line_map.h"

#include <cstring>

namespace vorpex::cli {

bool LineMap::write(std::string_view bytes) {
  // An output line starts at the first byte, and after every LF that is not the last byte.
  std::size_t from = 0;
  while (from < bytes.size()) {
    if (at_line_start_) {
      add_row();
      at_line_start_ = false;
    }
    const void* lf = std::memchr(bytes.data() + from, '\n', bytes.size() - from);
    if (lf == nullptr) break;
    from = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
    at_line_start_ = true;
  }
  if (rows_.size() >= kFlushSize) flush();
  return output_.write(bytes);
}

void LineMap::add_row() {
  rows_ += std::to_string(++output_lines_);
  rows_ += '\t';
  rows_ += std::to_string(input_line_);
  rows_ += '\n';
}

bool LineMap::flush() {
  if (!rows_.empty() && !failed_ && !map_.write(rows_)) failed_ = true;
  rows_.clear();
  return !failed_;
}

}  // namespace vorpex::cli
