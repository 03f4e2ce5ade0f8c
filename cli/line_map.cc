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
  rows_ += Decimal(static_cast<std::int64_t>(++output_lines_)).view();
  rows_ += '\t';
  rows_ += Decimal(input_line_).view();
  rows_ += '\n';
}

bool LineMap::flush() {
  const bool ok = map_.write(rows_);
  rows_.clear();
  return ok;
}

}  // namespace vorpex::cli
