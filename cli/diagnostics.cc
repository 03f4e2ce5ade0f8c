#include "cli/diagnostics.h"

#include <cstdint>

#include "platform/console.h"

namespace vorpex::cli {

void ErrorLog::line(std::string_view text) {
  pending_.append(text);
  pending_.append(platform::kNativeLineEnd);
  if (pending_.size() >= kFlushSize) flush();
}

bool ErrorLog::flush() {
  const bool ok = out_.write(pending_);
  pending_.clear();
  return ok;
}

void QuoteWarnings::report(const Diagnostic& d) {
  if (d.kind == DiagnosticKind::UnclosedString && !stopped_)
    console_.write("\r\nUNBALANCED QUOTE!\r\n");
  if (d.kind == DiagnosticKind::UnknownCharacter) stopped_ = true;
  if (next_ != nullptr) next_->report(d);
}

void DiagnosticPrinter::report(const Diagnostic& d) {
  // One line, built in a buffer that is kept, so that a run full of warnings allocates nothing.
  line_.assign(file_);
  line_ += ':';
  append_number(line_, d.line);
  line_ += ':';
  append_number(line_, static_cast<std::int64_t>(d.column));
  line_ += d.note ? ": note: " : is_error(d.kind) ? ": error: " : ": warning: ";
  describe(line_, d);
  line_ += " [";
  line_ += diagnostic_code(d.kind);
  line_ += ']';
  log_.line(line_);
}

}  // namespace vorpex::cli
