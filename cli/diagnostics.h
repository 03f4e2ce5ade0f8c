#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/diagnostic.h"

namespace vorpex::cli {

// Standard error as the front end writes it: whole lines, each ended as the platform's own tools
// end them, gathered and handed on in blocks. After the sink fails once, lines are dropped.
class ErrorLog {
 public:
  explicit ErrorLog(ByteSink& out) : out_(out) {}
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;
  ~ErrorLog() { flush(); }

  // Adds `text` and a line end.
  void line(std::string_view text);
  // Hands on what is gathered; false once any write has failed.
  bool flush();

 private:
  static constexpr std::size_t kFlushSize = 16 * 1024;
  ByteSink& out_;
  std::string pending_;
  bool failed_ = false;
};

// `text` for a message, in single quotes: each byte outside printable ASCII as \xNN, and cut to
// its first 40 bytes with "..." after them when longer.
std::string quoted(std::string_view text);

// Appends the message of a diagnostic, without its place: "the character ':' begins no ...".
void describe(std::string& out, const Diagnostic& diagnostic);

// Writes each diagnostic of the engine as "FILE:LINE:COLUMN: error: MESSAGE" (or "warning:"), the
// form that compilers use and editors read, and counts them. Warnings are left out when not
// wanted.
class DiagnosticPrinter : public DiagnosticObserver {
 public:
  DiagnosticPrinter(ErrorLog& log, std::string_view file, bool warnings)
      : log_(log), file_(file), warnings_(warnings) {}

  void report(const Diagnostic& diagnostic) override;

  std::size_t errors() const { return errors_; }
  std::size_t warnings() const { return warning_count_; }

 private:
  ErrorLog& log_;
  std::string file_;
  bool warnings_;
  std::size_t errors_ = 0;
  std::size_t warning_count_ = 0;
  std::string line_;  // the line being built, kept for its capacity
};

}  // namespace vorpex::cli
