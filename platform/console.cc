#include "platform/console.h"

namespace vorpex::platform {

bool Console::write(std::string_view text) {
  for (char c : text) {
    if (c == '\n') pending_.push_back('\r');
    pending_.push_back(c);
  }
  if (pending_.size() >= kFlushSize && !held_) return flush();
  return !out_.failed();
}

bool Console::flush() {
  const bool ok = out_.write(pending_);
  pending_.clear();
  return ok;
}

}  // namespace vorpex::platform
