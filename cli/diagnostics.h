#pragma once

#include <cstddef>
#include <cstdint>
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
  QuoteWarnings(ByteSink& console, DiagnosticObserver* next) : console_(console), next_(next) {}

  void report(const Diagnostic& diagnostic) override;

 private:
  ByteSink& console_;
  DiagnosticObserver* next_;
  bool stopped_ = false;  // keep-going has passed the stop: the console has had its last word
};

// Writes each diagnostic of the engine as "FILE:LINE:COLUMN: error: MESSAGE [CODE]" (or
// "warning:", or "note:" for an after-effect of the one before), the form that compilers use and
// editors read, and counts the errors and warnings. Warnings, and their notes, are left out when
// not wanted.
class DiagnosticPrinter : public DiagnosticObserver {
 public:
  DiagnosticPrinter(ErrorLog& log, std::string_view file, bool warnings)
      : log_(log), file_(file), warnings_(warnings) {}

  void report(const Diagnostic& diagnostic) override;

  // Counted in 64 bits: a file of several GiB can give more than a 32-bit count holds.
  std::uint64_t errors() const { return errors_; }
  std::uint64_t warnings() const { return warning_count_; }

 private:
  ErrorLog& log_;
  std::string file_;
  bool warnings_;
  std::uint64_t errors_ = 0;
  std::uint64_t warning_count_ = 0;
  bool shown_ = false;  // the last diagnostic that was not a note was written
  std::string line_;    // the line being built, kept for its capacity
};

}  // namespace vorpex::cli
