#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/line_processor.h"
#include "engine/symbol_table.h"
#include "session/analysis.h"
#include "session/session.h"

namespace vorpex {

// What a series of edits left alone of a text: its first `prefix` bytes and its last `suffix`
// bytes, the same before and after.
struct TextChange {
  bool changed = false;
  std::size_t prefix = 0;
  std::size_t suffix = 0;

  // The text, `size` bytes long, had its bytes [from, to) replaced.
  void add(std::size_t size, std::size_t from, std::size_t to) {
    to = std::min(to, size);
    from = std::min(from, to);
    if (!changed) {
      changed = true;
      prefix = from;
      suffix = size - to;
      return;
    }
    prefix = std::min(prefix, from);
    suffix = std::min(suffix, size - to);
  }
};

// An analysis kept from one version of a text to the next. The conversion's state is kept at
// checkpoints, a line start every few hundred lines; after an edit the text is read again from the
// last checkpoint before the edit, until a line start after it where the state is the one the old
// run had at the same line (its number and its place moved by the edit): from there on the old
// results are kept, moved by as many lines and bytes. The result is always the one analyze()
// gives for the new text.
class IncrementalAnalysis {
 public:
  // A checkpoint every `checkpoint_lines` lines (fewer for tests, so that small texts have many).
  explicit IncrementalAnalysis(const SessionOptions& options = {},
                               std::int64_t checkpoint_lines = kCheckpointLines);
  static constexpr std::int64_t kCheckpointLines = 64;

  // Analyses `text` whole.
  void reset(std::string_view text);
  // `text` is the text last analysed after `change`: analyses it again where it has to.
  void update(std::string_view text, const TextChange& change);

  // What a change would make of the lines around it, without keeping it (for a quick fix's
  // proof): the lines read again, as a fresh analysis of the changed text gives them, and the part
  // of the analysis kept that they stand for.
  struct Part {
    std::size_t diagnostics = 0;  // where it starts in each list
    std::size_t labels = 0;
    std::size_t jumps = 0;
    std::size_t output = 0;
    std::int64_t line = 0;  // its first line
  };
  struct Trial {
    bool read = false;  // false: nothing was read again (nothing changed, or nothing kept)
    Analysis lines;     // the lines read again; output_start from `first_line` on
    std::int64_t first_line = 1;
    bool met = false;  // the lines after them are those kept, moved; else the end
    std::int64_t stopped_line =
        0;      // where the new text's conversion stopped, by the last line read
    Part from;  // the analysis kept, at the first line read
    Part to;    // the analysis kept, where the changed text meets it again
  };
  // With `tokens`, the lines read again keep their tokens, whatever the options say.
  Trial try_change(std::string_view text, const TextChange& change, bool tokens = false) const;
  // The same for the text kept with its bytes [from, to) replaced by `inserted`, read from a copy
  // of only the lines around them (the whole text is copied only when the changed text does not
  // meet the kept analysis there). The places of the trial are those of the whole changed text,
  // but the messages after the meet are not looked for (the trial's lines are fresh).
  Trial try_edit(std::string_view text, std::size_t from, std::size_t to, std::string_view inserted,
                 bool tokens = false) const;
  // The lines that hold the bytes [from, to) of `text`, the text kept, read again with their
  // tokens from the checkpoint before them, in time that grows with those lines only; its places
  // are those of the whole text (output_start from the first line read, whose number the first
  // token tells).
  Analysis lines_between(std::string_view text, std::size_t from, std::size_t to) const;
  // How many lines begin with `number` (digits without leading zeros), and whether a jump names
  // it; in time that does not grow with the lines but for numbers of more than 18 digits.
  std::size_t label_count(std::string_view number) const;
  bool is_jumped_to(std::string_view number) const;

  const Analysis& analysis() const { return analysis_; }
  // Where the conversion stops (the first character that begins no token), 0 when it does not.
  std::int64_t stopped_line() const { return stopped_line_; }
  // The kept output's bytes [from, to) with the line numbers in the messages of the lines after
  // `after` moved by `delta`, as a change that adds or removes lines before them writes them; none
  // where a message cannot be told for certain.
  std::optional<std::string> output_renumbered(std::size_t from, std::size_t to, std::int64_t after,
                                               std::int64_t delta) const;
  // What analysis().missing_targets() gives, kept up to date with the labels and jumps.
  std::vector<LineNumberUse> missing_targets() const;
  // The lines that the last reset() or update() read, and the first of them.
  std::int64_t first_line_read() const { return first_line_read_; }
  std::int64_t lines_read() const { return lines_read_; }
  // The bytes [read_from(), read_to()) of the text, whole lines, that the last reset() or update()
  // read: outside them, all it found is what the text before had at the same place, counted from
  // its start before them and from its end after them (none read: both are the text's size).
  std::size_t read_from() const { return read_from_; }
  std::size_t read_to() const { return read_to_; }

 private:
  // The lists of an analysis that follow the lines of the text: a checkpoint counts how much of
  // each the lines before it made, and a change splices each the same way.
  enum KeptList : std::size_t {
    kDiagnostics,
    kDefinitions,
    kReferences,
    kLabels,
    kJumps,
    kTokens,
    kKeptLists
  };
  using ListCounts = std::array<std::size_t, kKeptLists>;
  static ListCounts sizes(const Analysis& analysis);
  // Calls f(kind, list...) for each of them, with its kind (a std::integral_constant) and that list
  // of each analysis given; how their elements move with the text is told beside it.
  template <typename F, typename... Analyses>
  static void for_each_list(F&& f, Analyses&... analyses);

  // The state before a line, with how much of each list the lines before it made.
  struct Checkpoint {
    LineProcessor::Checkpoint state;  // state.line_number: the lines before
    std::size_t offset = 0;           // where the line starts in the text
    ListCounts counts{};
    std::size_t symbols = 0;  // the table's rows
  };

  // Line numbers of the old run as the new run has them: those of the lines after `after` (the
  // last one that the edit touched) moved by `by`; the others, before the edit, the same.
  struct LineShift {
    std::int64_t after = 0;
    std::int64_t by = 0;
    std::int64_t operator()(std::int64_t line) const { return line > after ? line + by : line; }
  };
  // A line's number inside a message of the old output, to be written anew.
  struct Renumbering {
    std::int64_t line = 0;  // in the old run
    std::size_t at = 0;     // where its digits start in the old output
    std::size_t length = 0;
  };
  // What reading a changed text gives, before it is kept.
  struct Reading {
    bool resumed = false;  // from a checkpoint, not from the start
    std::size_t from_index = 0;
    Checkpoint head;  // where the reading started
    Analysis middle;  // what the lines read gave
    std::vector<Checkpoint> recorded;
    std::size_t old_kept = 0;  // the old output without its stop's message
    bool old_kept_ends_line = true;
    bool met = false;  // the old run was met again, at checkpoint meet_index
    std::size_t meet_index = 0;
    LineProcessor::Checkpoint meet_state;
    LineShift shift;
    std::vector<Renumbering> renumberings;  // the old output's messages, when lines moved
    std::int64_t lines = 0;                 // the lines read in all, those before included
    LineProcessor::Checkpoint end;
    std::int64_t ended_before = 0;     // see MapRecorder::ended_before()
    std::vector<SymbolEntry> symbols;  // the table at the end, when the old run was not met
    std::size_t size = 0;              // the text's size
    bool incomplete = false;           // the window ended before the old run was met
  };

  // A part of the changed text: its bytes from `base` on, of a text of `size` bytes in all;
  // `partial` when it ends before the text does.
  struct Window {
    std::size_t base = 0;
    std::size_t size = 0;
    bool partial = false;
  };
  // Reads `text` from checkpoint `from` (the first one when `change` is null: the whole text).
  // With `window`, `text` is that part of the changed text, places in it count from its base, and
  // a reading that comes to its end without meeting the kept analysis is left `incomplete`.
  Reading read(std::string_view text, std::size_t from, const TextChange* change,
               bool tokens = false, const Window* window = nullptr) const;
  // Places of a window's reading, from its base to the text's start.
  static void move_places(Analysis& lines, std::size_t base);
  // What a reading of a change gives, as a trial.
  Trial trial_of(Reading&& reading) const;
  // Makes the reading the analysis kept.
  void keep(std::string_view text, Reading&& reading);
  // The part of it that makes the map's rows (the output after the meet kept, or not).
  void keep_map(Reading& reading, bool keep_old_output);
  // The checkpoint to read a change from, and the change within both texts.
  std::size_t resume_point(std::string_view text, const TextChange& change) const;
  void clamp(TextChange& change, std::string_view text) const;
  // Finds the messages that the diagnostics of `old` from `first` on wrote into its output,
  // before its stop at `stopped_line` (0: none), from the places the diagnostics kept: their
  // numbers go to `found`. Returns the last line whose messages are not all known for certain
  // (the stop's, or one whose output does not hold its number where it was kept), 0 when none.
  static std::int64_t find_messages(const Analysis& old, std::size_t first,
                                    std::int64_t stopped_line, std::vector<Renumbering>& found);
  // The labels [head, tail) were read again as `middle`: the keys of the labels' numbers follow,
  // and the keys that labels came to or went from are noted.
  void update_labels(std::size_t head, std::size_t tail, const std::vector<LineNumberUse>& middle);
  // The jumps [head, old_tail) were read again as the `middle` ones from `head` on.
  void update_missing(std::size_t head, std::size_t old_tail, std::size_t middle);

  SessionOptions options_;
  std::int64_t checkpoint_lines_;
  bool refused_ = false;  // a constant of the options was refused: nothing is converted
  Analysis analysis_;
  std::vector<Checkpoint> checkpoints_;      // in the order of their lines
  std::vector<SymbolEntry> symbols_;         // the table at the end
  std::vector<std::uint64_t> label_keys_;    // the labels' numbers as keys, sorted
  std::vector<std::uint64_t> jump_keys_;     // each jump's number as a key
  std::vector<std::uint64_t> changed_keys_;  // the keys that labels came to or went from
  mutable std::vector<std::uint64_t> sorted_jump_keys_;  // jump_keys_ sorted, made when asked
  mutable bool jump_keys_sorted_ = false;
  std::vector<std::size_t> missing_;  // the jumps to a number that begins no line
  std::int64_t stopped_line_ = 0;     // where the conversion stopped; 0 when it did not
  std::int64_t lines_ = 0;            // the lines of the text
  std::size_t size_ = 0;              // the text's size
  std::int64_t first_line_read_ = 0;
  std::int64_t lines_read_ = 0;
  std::size_t read_from_ = 0;
  std::size_t read_to_ = 0;
};

}  // namespace vorpex
