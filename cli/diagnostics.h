#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/diagnostic.h"
#include "engine/diagnostic_text.h"
#include "engine/writer.h"

namespace vorpex::cli {

// Standard error as the front end writes it: whole lines, each ended as the platform's own tools
// end them, gathered and handed on in blocks. After the sink fails once, lines are dropped.
class ErrorLog {
 public:
  explicit ErrorLog(ByteSink& out) : out_(&out) {}
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;
  ~ErrorLog() { flush(); }

  // Adds `text` and a line end.
  void line(std::string_view text);
  // Hands on what is gathered; false once any write has failed.
  bool flush();

 private:
  static constexpr std::size_t kFlushSize = 16 * 1024;
  SinkWriter out_;
  std::string pending_;
};

// The console's own response to the engine's diagnostics: "UNBALANCED QUOTE!" between two line
// ends for every string left open (a note too), up to the character that stopped the conversion.
// Every diagnostic is handed on to `next`, which may be null.
class QuoteWarnings : public DiagnosticObserver {
 public:
  explicit QuoteWarnings(ByteSink& console, DiagnosticObserver* next = nullptr)
      : console_(console), next_(next) {}

  void report(const Diagnostic& diagnostic) override;
  // The console's words do not depend on it.
  bool judges_quotes() const override { return next_ != nullptr && next_->judges_quotes(); }

 private:
  ByteSink& console_;
  DiagnosticObserver* next_;
  bool stopped_ = false;  // keep-going has passed the stop: the console has had its last word
};

// Writes each diagnostic that the session shows as "FILE:LINE:COLUMN: error: MESSAGE [CODE]" (or
// "warning:", or "note:" for an after-effect of the one before), the form that compilers use and
// editors read.
class DiagnosticPrinter : public DiagnosticObserver {
 public:
  DiagnosticPrinter(ErrorLog& log, std::string_view file) : log_(log), file_(file) {}

  void report(const Diagnostic& diagnostic) override;

 private:
  ErrorLog& log_;
  std::string file_;
  std::string line_;  // the line being built, kept for its capacity
};

}  // namespace vorpex::cli
