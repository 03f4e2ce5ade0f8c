#include "platform/console.h"

namespace vorpex::platform {

bool Console::write(std::string_view text) {
  for (char c : text) {
    if (c == '\n') pending_.push_back('\r');
    pending_.push_back(c);
  }
  if (pending_.size() >= kFlushSize && !held_) return flush();
  return !failed_;
}

bool Console::flush() {
  if (!pending_.empty() && !failed_ && out_ != nullptr && !out_->write(pending_)) failed_ = true;
  pending_.clear();
  return !failed_;
}

}  // namespace vorpex::platform
