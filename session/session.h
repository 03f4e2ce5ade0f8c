#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_sink.h"
#include "engine/define_directive.h"
#include "engine/diagnostic.h"
#include "engine/line_processor.h"
#include "engine/line_source.h"
#include "engine/token_observer.h"
#include "session/line_map.h"

// A session is the one way into the engine for every front end: the command line streams a file
// through it, the language server and the web page hand it a whole buffer. It checks the constants
// given outside the source, chooses which diagnostics are shown, builds the line map, and gathers
// the tokens.

namespace vorpex {

struct SessionOptions {
  std::vector<std::string> defines;  // NAME=VALUE each, defined before the source, in this order
  bool warnings = true;              // false: warnings, and their notes, are left out
  bool keep_going = false;  // read past a character that stops the conversion for its problems
  bool line_map = false;    // (buffers) make the line map
  bool tokens = false;      // (buffers) keep every token
};

// Why a constant given outside the source cannot be defined, as every front end says it:
// "cannot define 'TEXT': REASON"; empty when all of them can. Each is checked as a DEFINE line
// would take it, before any is defined: a name may come once.
std::string refuse_constants(std::span<const std::string> defines);

// The same check, one constant at a time, for a front end that goes on with the others.
class ConstantCheck {
 public:
  // Empty when `define` can be defined after those accepted before it; else why not.
  std::string add(const std::string& define);

 private:
  DefinitionCheck check_;
};

// A constant left out: its index among those given, and why.
struct ConstantRefusal {
  std::size_t index = 0;
  std::string message;  // as refuse_constants() words it
};

// The constants that can be defined, in order, each checked after those kept before it; the
// others are left out and named in `refused`. For the front ends that go on without them.
std::vector<std::string> accepted_constants(std::span<const std::string> defines,
                                            std::vector<ConstantRefusal>& refused);

// A diagnostic kept past the run, with its place in the source's bytes where the session read a
// buffer.
struct KeptDiagnostic {
  DiagnosticKind kind = DiagnosticKind::UnknownCharacter;
  std::int64_t line = 0;       // the input line, as the converter counts them (LF ends a line)
  std::size_t column = 0;      // 1-based byte column on that line, CR bytes not counted
  std::size_t end_column = 0;  // one past the last byte of what it is about
  TokenKind found_kind = TokenKind::None;
  std::string found;
  std::int64_t other_line = 0;
  std::string other;
  bool note = false;  // an after-effect of the diagnostic before it
  std::size_t related_column = 0;
  std::uint64_t count = 0;  // CRs that end no line: how many the source holds
  // An error whose message is in the output: where the message's line number begins, from the
  // start of its line's output, not counting the numbers of the line's messages before it (so
  // that it holds when lines move and their numbers change length); 0 for none, or unknown.
  std::size_t message = 0;
  // Buffers only: byte offsets in the source as given (CR bytes included) of the column, the end
  // column and the related column.
  std::size_t offset = 0;
  std::size_t end_offset = 0;
  std::size_t related_offset = 0;

  bool is_error() const { return vorpex::is_error(kind); }
  // The engine's form of it, valid while this one lives: for the front end's wording.
  Diagnostic view() const;
};

// Passes on the diagnostics a user asked for: every error, the warnings when wanted, and each
// note with the diagnostic before it, shown or not. Counts what it passes on.
class DiagnosticFilter : public DiagnosticObserver {
 public:
  DiagnosticFilter(DiagnosticObserver* next, bool warnings) : next_(next), warnings_(warnings) {}
  void report(const Diagnostic& diagnostic) override;
  // Only where the quote's warning can be shown, or `every` judges it.
  bool judges_quotes() const override {
    return warnings_ || (every_ != nullptr && every_->judges_quotes());
  }
  // `every` is told of every diagnostic first, chosen or not; null for none.
  void set_every(DiagnosticObserver* every) { every_ = every; }
  // Counted in 64 bits: a file of several GiB can give more than a 32-bit count holds.
  std::uint64_t errors() const { return errors_; }
  std::uint64_t warnings() const { return warning_count_; }

 private:
  DiagnosticObserver* next_;
  DiagnosticObserver* every_ = nullptr;
  bool warnings_;
  bool shown_ = false;  // the last diagnostic that was not a note was passed on
  std::uint64_t errors_ = 0;
  std::uint64_t warning_count_ = 0;
};

// A conversion of one input, streamed: the output goes to `output` as it is made, diagnostics to
// `diagnostics` (as DiagnosticFilter chooses them), the map's rows to `map`, tokens to `tokens`;
// each may be null but the output.
class Session {
 public:
  Session(const SessionOptions& options, ByteSink& output, DiagnosticObserver* diagnostics,
          LineMapRows* map = nullptr, TokenObserver* tokens = nullptr,
          std::size_t output_buffer_size = OutputBuffer::kDefaultCapacity);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Non-empty when a constant of the options was refused (refuse_constants): nothing is
  // converted then, and a run does nothing.
  const std::string& refusal() const { return refusal_; }

  // `every` is told of every diagnostic, shown or not (the console's own warnings); null for none.
  void watch_every_diagnostic(DiagnosticObserver* every) { filter_.set_every(every); }

  // Converts the whole input. Once the outcome is not Done, the status is 1.
  ProcessResult run(LineSource& input);

  std::uint64_t errors() const { return filter_.errors(); }
  std::uint64_t warnings() const { return filter_.warnings(); }
  // The constants: those of the options, and those that the source defined so far.
  const SymbolTable& symbols() { return processor_.symbols(); }
  // For tests and tools: every line through the token loop, or the fast path too (the default).
  void set_fast_path(bool on) { processor_.set_fast_path(on); }

  // Goes on from where an earlier run over the same lines stood (LineProcessor::checkpoint), with
  // the output as its sink last saw it: `output_size` bytes, the last a line break when
  // `at_line_start`, while input line `map_line` was read. Before run(); the constants are
  // restore_constants()'s.
  void resume(const LineProcessor::Checkpoint& from, std::uint64_t output_size, bool at_line_start,
              std::int64_t map_line);
  // Defines again the constants of `rows` (a table's rows, in order) that lines before
  // `before_line` defined, and marks again the overrides that they made.
  void restore_constants(std::span<const SymbolEntry> rows, std::int64_t before_line);
  // Where the run stands, taken by the line source between two lines (`lines_read` of them).
  LineProcessor::Checkpoint checkpoint(std::int64_t lines_read) const {
    return processor_.checkpoint(lines_read);
  }

 private:
  std::string refusal_;
  DiagnosticFilter filter_;
  std::optional<LineMap> line_map_;
  LineProcessor processor_;
};

// The lines of a source held whole, split as the converter reads a file (lines end at LF, every CR
// is dropped, the byte 0x1A ends the input), each copied into a padded buffer of its own; tells
// where each byte of the current line stood in the source, CR bytes included.
class SourceLines : public LineSource {
 public:
  explicit SourceLines(std::string_view source);
  // The lines from byte `from` on, where line `lines_before` + 1 starts: the source's bytes
  // before it are still read for the places of earlier lines.
  SourceLines(std::string_view source, std::size_t from, std::int64_t lines_before);
  bool next_line(std::span<char>& line) override;
  // Whole lines up to the next CR (a line with one goes line by line, its columns mapped), copied
  // with the padding that the conversion reads past them; the last of them is the current line.
  bool next_lines(std::span<char>& lines) override;
  // Counts the CRs that end no line, for the conversion to tell of them at its end: only for a
  // reading of the whole source, which a kept analysis does not make.
  void tell_cr_joins() { tell_joins_ = true; }
  const CrJoins* cr_joins() const override { return tell_joins_ ? &joins_ : nullptr; }

  // The source offset of the byte at 1-based `column` of the current line.
  std::size_t offset(std::size_t column) const;
  // The source offset just past the byte before 1-based `column`: where a range that ends before
  // `column` ends (not past a CR that follows its last byte).
  std::size_t end_offset(std::size_t column) const;
  // The source offset of 1-based `column` of the earlier line `line` (from 1).
  std::size_t offset(std::int64_t line, std::size_t column) const;
  std::int64_t lines_read() const {
    return lines_before_ + static_cast<std::int64_t>(starts_.size());
  }
  // Where the next line starts, and whether there is one.
  std::size_t next_offset() const { return next_; }
  bool at_end() const { return done_ || next_ >= source_.size(); }
  // The 1-based column of the current line, in the line as it is (CR bytes counted).
  std::size_t original_column(std::size_t column) const;
  std::string_view source() const { return source_; }

 private:
  std::string_view source_;
  std::size_t next_ = 0;
  std::size_t start_ = 0;
  std::size_t size_ = 0;  // the current line's bytes, without its CR bytes
  bool done_ = false;
  std::string buffer_;
  std::vector<std::size_t> removed_;  // the columns (from 0, without CRs) before which a CR stood
  std::vector<std::size_t> starts_;   // where each line read so far starts
  std::int64_t lines_before_ = 0;     // the lines before the first one read
  std::size_t first_ = 0;             // where the first one read starts
  bool tell_joins_ = false;
  CrJoins joins_;
};

class MapRecorder;

// Makes diagnostics and tokens from the engine speak of places in the source as it is: original
// columns and byte offsets.
class SourcePlaces : public DiagnosticObserver, public TokenObserver {
 public:
  SourcePlaces(const SourceLines& lines, std::vector<KeptDiagnostic>* diagnostics,
               TokenObserver* tokens)
      : lines_(lines), diagnostics_(diagnostics), tokens_(tokens) {}
  void report(const Diagnostic& diagnostic) override;
  void token(const TokenEvent& event) override;
  // Where each line's output starts, as `map` records it: the diagnostics then keep where their
  // messages stand.
  void set_line_starts(const MapRecorder* map) { map_ = map; }

 private:
  const SourceLines& lines_;
  std::vector<KeptDiagnostic>* diagnostics_;
  TokenObserver* tokens_;
  const MapRecorder* map_ = nullptr;
  std::int64_t message_line_ = 0;    // the line of the last message kept
  std::size_t messages_before_ = 0;  // its messages before the last
};

// One output line of the map: the input lines from `first` to `last` made it.
struct MapRow {
  std::int64_t first = 0;
  std::int64_t last = 0;
};

// Keeps the map of a buffer's conversion.
class MapRecorder : public LineMapRows {
 public:
  // `line_starts` gets the output's size as each input line starts, from the line after
  // `lines_before` on.
  explicit MapRecorder(std::vector<MapRow>& rows, std::vector<std::uint64_t>* line_starts,
                       std::int64_t lines_before = 0)
      : MapRecorder(&rows, line_starts, lines_before) {}
  // `rows` null: only the line starts are kept.
  MapRecorder(std::vector<MapRow>* rows, std::vector<std::uint64_t>* line_starts,
              std::int64_t lines_before)
      : rows_(rows), line_starts_(line_starts), lines_before_(lines_before) {}
  void output_line(std::int64_t output_line, std::int64_t input_line) override;
  void output_line_end(std::int64_t input_line) override;
  void input_line(std::int64_t input_line, std::uint64_t output_size) override;
  // The input line during which the output line before the first row recorded here ended, for a
  // map that goes on from another; 0 when none did.
  std::int64_t ended_before() const { return ended_before_; }
  // Where the output of `input_line`, one that has started, starts; nullopt when the starts are
  // not kept.
  std::optional<std::uint64_t> line_start(std::int64_t input_line) const;

 private:
  std::vector<MapRow>* rows_;
  std::vector<std::uint64_t>* line_starts_;
  std::int64_t lines_before_;
  std::int64_t ended_before_ = 0;
};

// The output of a buffer's conversion, kept whole in a string.
class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  bool write(std::string_view bytes) override {
    out_.append(bytes);
    return true;
  }

 private:
  std::string& out_;
};

// Everything that a conversion of a buffer gives.
struct SessionResult {
  int status = 0;  // as vorpex exits: 0 when the whole input was converted, 1 otherwise
  Outcome outcome = Outcome::Done;
  std::string refusal;  // why a constant was refused: nothing was converted then
  std::string output;
  std::vector<KeptDiagnostic> diagnostics;  // as shown: each note after its diagnostic
  std::uint64_t errors = 0;
  std::uint64_t warnings = 0;
  std::vector<MapRow> map;         // with options.line_map: one row per output line
  std::vector<TokenEvent> tokens;  // with options.tokens: columns as in the source
  std::int64_t lines = 0;          // the input lines read
};

// Converts `source`, the bytes of a whole file.
SessionResult convert(std::string_view source, const SessionOptions& options);

// The warning that a conversion of the whole of `source` gives at its end of the CRs in it that end
// no line, where it holds any and the conversion goes to the end (as keep-going does): for a kept
// analysis, which reads again only the lines that an edit changed.
std::optional<KeptDiagnostic> cr_joins_warning(std::string_view source);
// That warning of `joins`, the first of them on input line `line`, the text after it at byte
// `after` of the source.
KeptDiagnostic cr_joins_kept(const CrJoins& joins, std::int64_t line, std::size_t after);

}  // namespace vorpex
