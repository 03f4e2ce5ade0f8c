// The language features: what the server answers about an open document, from its analysis.
#include <algorithm>
#include <iterator>
#include <span>
#include <string>
#include <unordered_set>

#include "engine/diagnostic_text.h"
#include "engine/tokenizer.h"
#include "lsp/server.h"
#include "session/analysis_collector.h"
#include "session/json.h"
#include "session/quick_fix.h"
#include "session/words.h"

namespace vorpex::lsp {

namespace {

const Json& member(const Json& object, std::string_view name) {
  static const Json kNull;
  if (!object.is_object()) return kNull;
  const auto found = object.find(name);
  return found == object.end() ? kNull : *found;
}

std::string_view code_of(DiagnosticKind kind) {
  return diagnostic_code(kind);
}

// The words of a diagnostic. A constant defined before the source comes from the editor's
// settings here.
void describe_here(std::string& out, const KeptDiagnostic& d) {
  static constexpr std::string_view kCommandLine = " on the command line";
  const std::size_t start = out.size();
  describe(out, d.view());
  if (const std::size_t at = out.find(kCommandLine, start); at != std::string::npos)
    out.replace(at, kCommandLine.size(), " in the settings");
}

std::string message_of(const KeptDiagnostic& d) {
  std::string text;
  describe_here(text, d);
  return text;
}

constexpr std::string_view kMissingTarget = "missing-line-target";

// Where a diagnostic stands in the document's bytes.
SourceRange place_of_diagnostic(const KeptDiagnostic& d) {
  return {d.line, d.column, d.end_offset - d.offset, d.offset};
}

// For a client that shows no related information: the notes after diagnostic `index` of `list`,
// each with its line as the editor counts them, after its message.
void fold_notes(std::string& message, const std::vector<KeptDiagnostic>& list, std::size_t index,
                const LineIndex& lines) {
  for (std::size_t i = index + 1; i < list.size() && list[i].note; ++i) {
    message += "\n\nnote at line ";
    message += std::to_string(lines.line_of(list[i].offset) + 1);
    message += ": ";
    describe_here(message, list[i]);
  }
}

// What stands at a place of the source.
struct Hit {
  enum Kind { None, Name, Label, Jump } kind = None;
  const Definition* definition = nullptr;
  std::string number;
  SourceRange place;
};

bool covers(const SourceRange& place, std::size_t offset) {
  // The place just after a token still counts: the cursor often stands there.
  return offset >= place.offset && offset <= place.offset + place.length;
}

Hit hit_at(const Analysis& analysis, std::size_t offset) {
  for (const Definition& d : analysis.definitions) {
    if (d.place.line > 0 && covers(d.place, offset)) return {Hit::Name, &d, {}, d.place};
  }
  for (const Reference& r : analysis.references) {
    if (covers(r.place, offset))
      return {Hit::Name, &analysis.definitions[r.definition], {}, r.place};
  }
  for (const LineNumberUse& j : analysis.jumps) {
    if (covers(j.place, offset)) return {Hit::Jump, nullptr, j.number, j.place};
  }
  for (const LineNumberUse& l : analysis.labels) {
    if (covers(l.place, offset)) return {Hit::Label, nullptr, l.number, l.place};
  }
  return {};
}

std::string fenced(std::string_view text) {
  return "```\n" + std::string(text) + "\n```";
}

// The semantic token types, as the legend lists them: no two alike, each adding to the grammar's
// colours without contradicting them.
enum SemanticType { kVariable, kNumber, kLabel, kString, kOperator, kComment, kKeyword, kMacro };
constexpr int kDeclaration = 1;  // the one modifier: a constant at its DEFINE, a line's own number

// The type and modifiers of a token; a type of -1 leaves it to the grammar.
std::pair<int, int> semantic_type(const TokenEvent& t, std::string_view text, bool jump_target) {
  switch (t.role) {
    case TokenRole::Word:
      return {is_keyword(text) ? kKeyword : kVariable, 0};
    case TokenRole::Number:
      return {jump_target ? kLabel : kNumber, 0};
    case TokenRole::LineNumber:
      return {kLabel, kDeclaration};
    case TokenRole::String:
      return {kString, 0};
    case TokenRole::Operator:
      return {kOperator, 0};
    case TokenRole::Comment:
      return {kComment, 0};
    case TokenRole::Directive:
      return {kKeyword, 0};
    case TokenRole::DefinedName:
      return {kMacro, 0};
    case TokenRole::Definition:
      return {kMacro, kDeclaration};
    case TokenRole::Unknown:
      break;
  }
  return {-1, 0};
}

// Calls `each(analysis, first, last)` for the lines that hold the bytes [from, to) of `text`, a
// stretch of whole lines (256 KiB) at a time, each read again with its tokens from the kept
// analysis's checkpoint before it: the tokens of the whole document are never held at once.
template <typename Each>
void for_each_stretch(const IncrementalAnalysis& kept, std::string_view text, std::size_t from,
                      std::size_t to, Each each) {
  constexpr std::size_t kStretch = 256 * 1024;
  to = std::min(to, text.size());
  for (std::size_t first = from; first < to;) {
    const std::size_t lf = first + kStretch < to ? text.find('\n', first + kStretch) : to;
    const std::size_t last = lf < to ? lf + 1 : to;
    each(kept.lines_between(text, first, last), first, last);
    first = last;
  }
}

}  // namespace

Json Server::range(const Document& document, std::size_t from, std::size_t to) const {
  const TextRange r = document.index().range(from, to, encoding_);
  return {{"start", {{"line", r.start.line}, {"character", r.start.character}}},
          {"end", {{"line", r.end.line}, {"character", r.end.character}}}};
}

Json Server::location(const std::string& uri, const Document& document,
                      const SourceRange& place) const {
  return {{"uri", uri}, {"range", range(document, place)}};
}

Json Server::diagnostics(const std::string& uri, const OpenDocument& open) const {
  Json list = Json::array();
  const std::vector<KeptDiagnostic>& all = open.diagnostics();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const KeptDiagnostic& d = all[i];
    const bool error = is_error(d.kind);
    const SourceRange place = place_of_diagnostic(d);
    if (d.note) {
      if (list.empty() || !related_information_) continue;
      list.back()["relatedInformation"].push_back(
          {{"location", location(uri, open.document, place)}, {"message", message_of(d)}});
      continue;
    }
    std::string message = message_of(d);
    if (!related_information_) fold_notes(message, all, i, open.document.index());
    list.push_back({{"range", range(open.document, place)},
                    {"severity", error ? 1 : 2},
                    {"code", code_of(d.kind)},
                    {"source", "vorpex"},
                    {"message", message}});
  }
  if (warnings_) {
    // After the others, as the converter tells it at the end of its run.
    if (open.cr_joins) {
      const KeptDiagnostic& d = *open.cr_joins;
      list.push_back({{"range", range(open.document, place_of_diagnostic(d))},
                      {"severity", 2},
                      {"code", code_of(d.kind)},
                      {"source", "vorpex"},
                      {"message", message_of(d)}});
    }
    for (const LineNumberUse& jump : open.missing) {
      list.push_back({{"range", range(open.document, jump.place)},
                      {"severity", 2},
                      {"code", kMissingTarget},
                      {"source", "vorpex"},
                      {"message", "no line begins with the number " + jump.number}});
    }
  }
  return list;
}

// The same as the tree above, written straight as text: a change to a large document may have
// hundreds of diagnostics to publish, and building and dumping their tree took most of the time.
// The members stand in the order the tree's dump writes them (by name), so the bytes are the same.
std::string Server::publish_text(const std::string& uri, const OpenDocument& open) const {
  std::string out;
  out.reserve(256 + uri.size() + open.diagnostics().size() * (160 + uri.size()));
  std::string message;
  std::string quoted_uri;
  append_json_string(quoted_uri, uri);
  const auto append_range = [&](const SourceRange& place) {
    const TextRange r =
        open.document.index().range(place.offset, place.offset + place.length, encoding_);
    out += R"({"end":{"character":)";
    append_json_integer(out, r.end.character);
    out += R"(,"line":)";
    append_json_integer(out, r.end.line);
    out += R"(},"start":{"character":)";
    append_json_integer(out, r.start.character);
    out += R"(,"line":)";
    append_json_integer(out, r.start.line);
    out += "}}";
  };
  // A diagnostic is written up to its related information, which the notes after it may add;
  // `open_item` says one is waiting for its end.
  bool open_item = false;
  bool any = false;
  bool related = false;
  std::string tail;  // what follows "relatedInformation" in a diagnostic: severity, source
  const auto close_item = [&] {
    if (!open_item) return;
    if (related) out += ']';
    out += tail;
    open_item = false;
  };
  const auto begin_item = [&](const SourceRange& place, int severity, std::string_view code,
                              std::string_view text) {
    close_item();
    out += any ? ",{" : "{";
    any = true;
    out += R"("code":)";
    append_json_string(out, code);
    out += R"(,"message":)";
    append_json_string(out, text);
    out += R"(,"range":)";
    append_range(place);
    tail = R"(,"severity":)";
    append_json_integer(tail, severity);
    tail += R"(,"source":"vorpex"})";
    open_item = true;
    related = false;
  };
  out += R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)";
  const std::vector<KeptDiagnostic>& all = open.diagnostics();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const KeptDiagnostic& d = all[i];
    const bool error = is_error(d.kind);
    const SourceRange place = place_of_diagnostic(d);
    message.clear();
    describe_here(message, d);
    if (d.note) {
      if (!open_item || !related_information_) continue;
      out += related ? "," : R"(,"relatedInformation":[)";
      related = true;
      out += R"({"location":{"range":)";
      append_range(place);
      out += R"(,"uri":)";
      out += quoted_uri;
      out += R"(},"message":)";
      append_json_string(out, message);
      out += '}';
      continue;
    }
    if (!related_information_) fold_notes(message, all, i, open.document.index());
    begin_item(place, error ? 1 : 2, code_of(d.kind), message);
  }
  if (warnings_) {
    if (open.cr_joins) {
      message.clear();
      describe_here(message, *open.cr_joins);
      begin_item(place_of_diagnostic(*open.cr_joins), 2, code_of(open.cr_joins->kind), message);
    }
    for (const LineNumberUse& jump : open.missing)
      begin_item(jump.place, 2, kMissingTarget, "no line begins with the number " + jump.number);
  }
  close_item();
  out += R"(],"uri":)";
  out += quoted_uri;
  out += R"(,"version":)";
  append_json_integer(out, open.version);
  out += "}}";
  return out;
}

std::size_t Server::place_of(const OpenDocument& open, const Json& params) const {
  const Json& position = params.at("position");
  const Position p{client_integer(position.at("line"), "line"),
                   client_integer(position.at("character"), "character")};
  const std::optional<std::size_t> offset = open.document.index().offset(p, encoding_);
  if (!offset) throw RpcError(error_code::kInvalidParams, "Invalid params: position out of range");
  return *offset;
}

Json Server::hover(const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::size_t offset = place_of(open, params);
  const Analysis& analysis = open.kept();
  const Hit hit = hit_at(analysis, offset);
  std::string text;
  if (hit.kind == Hit::Name) {
    const Definition& d = *hit.definition;
    text = "**" + d.name + "** = `" + d.value + "`\n\n";
    text += d.place.line > 0 ? "Defined at line " + std::to_string(d.place.line) + "."
                             : std::string("Defined in the settings.");
  } else if (hit.kind == Hit::Jump || hit.kind == Hit::Label) {
    const LineNumberUse* label = analysis.find_label(hit.number);
    text = label != nullptr ? "Line number " + hit.number + " begins line " +
                                  std::to_string(label->place.line) + " of the file."
                            : "No line begins with the number " + hit.number + ".";
  }
  // The input line as the converter counts them: only LF ends one.
  const std::string& source = open.document.text();
  const auto line =
      1 + std::count(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
  const auto [first, last] = analysis.output_lines_of(line);
  if (!text.empty()) text += "\n\n";
  const auto stop = std::find_if(
      analysis.diagnostics.begin(), analysis.diagnostics.end(),
      [](const KeptDiagnostic& d) { return d.kind == DiagnosticKind::UnknownCharacter; });
  if (first == last && stop != analysis.diagnostics.end() && stop->line < line) {
    text += "The conversion stops at line " + std::to_string(stop->line) +
            ": this line reaches no output.";
  } else if (first == last) {
    text += "This line writes nothing to the output.";
  } else {
    std::string lines;
    for (std::size_t i = first; i < last && i < first + 5; ++i) {
      if (i > first) lines += '\n';
      lines += analysis.output_line(i);
    }
    text += (last - first == 1 ? "Output line " + std::to_string(first + 1) + ":\n"
                               : "Output lines " + std::to_string(first + 1) + "-" +
                                     std::to_string(last) + ":\n") +
            fenced(lines);
  }
  Json result = {{"contents", {{"kind", "markdown"}, {"value", text}}}};
  if (hit.kind != Hit::None) result["range"] = range(open.document, hit.place);
  return result;
}

Json Server::definition(const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::size_t offset = place_of(open, params);
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  const Analysis& analysis = open.kept();
  const Hit hit = hit_at(analysis, offset);
  if (hit.kind == Hit::Name && hit.definition->place.line > 0)
    return location(uri, open.document, hit.definition->place);
  if (hit.kind == Hit::Jump || hit.kind == Hit::Label) {
    if (const LineNumberUse* label = analysis.find_label(hit.number))
      return location(uri, open.document, label->place);
  }
  return nullptr;
}

Json Server::references(const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::size_t offset = place_of(open, params);
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  const bool declaration = member(member(params, "context"), "includeDeclaration") == true;
  const Analysis& analysis = open.kept();
  const Hit hit = hit_at(analysis, offset);
  Json list = Json::array();
  if (hit.kind == Hit::Name) {
    if (declaration && hit.definition->place.line > 0)
      list.push_back(location(uri, open.document, hit.definition->place));
    const auto index = static_cast<std::size_t>(hit.definition - analysis.definitions.data());
    for (const Reference& r : analysis.references) {
      if (r.definition == index) list.push_back(location(uri, open.document, r.place));
    }
  } else if (hit.kind == Hit::Jump || hit.kind == Hit::Label) {
    if (const LineNumberUse* label = analysis.find_label(hit.number); label && declaration)
      list.push_back(location(uri, open.document, label->place));
    for (const LineNumberUse& j : analysis.jumps) {
      if (j.number == hit.number) list.push_back(location(uri, open.document, j.place));
    }
  } else {
    return nullptr;
  }
  return list;
}

Json Server::rename(const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::size_t offset = place_of(open, params);
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  const std::string new_name = params.at("newName").get<std::string>();
  if (Json line = rename_line(params); !line.is_null()) return line;
  const Analysis& analysis = open.kept();
  const Hit hit = hit_at(analysis, offset);
  if (hit.kind != Hit::Name)
    throw RpcError(error_code::kRequestFailed, "only a name that DEFINE defines can be renamed");
  const Definition& definition = *hit.definition;
  if (definition.place.line == 0)
    throw RpcError(error_code::kRequestFailed,
                   definition.name + " is defined in the settings, not in this file");
  if (const std::string problem = one_word_problem(new_name); !problem.empty())
    throw RpcError(error_code::kRequestFailed, problem);
  if (const Definition* other = analysis.find_definition(new_name);
      other != nullptr && other != &definition)
    throw RpcError(error_code::kRequestFailed,
                   "'" + new_name + "' is already defined" +
                       (other->place.line > 0 ? " at line " + std::to_string(other->place.line)
                                              : std::string(" in the settings")));
  // A word of that name after the definition would be replaced too, and change the program.
  const std::string upper = upper_word(new_name);
  const std::string_view text = open.document.text();
  for_each_stretch(
      open.analysis, text, definition.place.offset, text.size(),
      [&](const Analysis& stretch, std::size_t, std::size_t) {
        for (const TokenEvent& t : stretch.tokens) {
          if (t.role != TokenRole::Word || t.line <= definition.place.line ||
              t.length != upper.size() || upper_word(text.substr(t.offset, t.length)) != upper)
            continue;
          throw RpcError(error_code::kRequestFailed,
                         "'" + new_name + "' is used as a word at line " + std::to_string(t.line) +
                             ", which the new name would replace");
        }
      });
  Json edits = Json::array();
  edits.push_back({{"range", range(open.document, definition.place)}, {"newText", new_name}});
  const auto index = static_cast<std::size_t>(&definition - analysis.definitions.data());
  for (const Reference& r : analysis.references) {
    if (r.definition == index)
      edits.push_back({{"range", range(open.document, r.place)}, {"newText", new_name}});
  }
  return {{"changes", {{uri, edits}}}};
}

namespace {

// The text of the source line (as the converter reads lines) that holds `offset`, without its
// line end.
std::string_view source_line_at(std::string_view text, std::size_t offset) {
  const std::size_t lf = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
  const std::size_t start = lf == std::string_view::npos ? 0 : lf + 1;
  std::size_t end = std::min(text.find('\n', offset), text.size());
  if (end > start && text[end - 1] == '\r') --end;
  return text.substr(start, end - start);
}

}  // namespace

void Server::completion(const Json& id, const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::size_t offset = place_of(open, params);
  const std::string_view text = open.document.text();
  const std::size_t lf = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
  const std::size_t line_start = lf == std::string_view::npos ? 0 : lf + 1;
  if (expects_line_number(text.substr(line_start, offset - line_start))) {
    // The document's line numbers, each with its line's text, from the kept analysis, written as
    // JSON text (a document may have 200 000 of them; the keys in the order a tree gives them).
    // Each number once, found again in constant time.
    std::unordered_set<std::string_view> seen;
    std::string items = "[";
    for (const LineNumberUse& label : open.kept().labels) {
      if (!seen.insert(label.number).second) continue;
      std::string_view line = source_line_at(text, label.place.offset);
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
      if (items.size() > 1) items += ',';
      items += "{\"detail\":";
      append_json_string(items, line.substr(0, 80));
      items += ",\"kind\":18,\"label\":";
      append_json_string(items, label.number);
      items += ",\"sortText\":";
      append_json_string(
          items,
          std::string(12 - std::min<std::size_t>(label.number.size(), 12), '0') + label.number);
      items += '}';
    }
    items += ']';
    reply_text(id, items);
    return;
  }
  Json items = Json::array();
  const Analysis& analysis = open.kept();
  for (const Definition& d : analysis.definitions) {
    items.push_back(
        {{"label", d.name},
         {"kind", 21},
         {"detail", "= " + d.value},
         {"documentation", d.place.line > 0 ? "Defined at line " + std::to_string(d.place.line)
                                            : std::string("Defined in the settings")}});
  }
  // The words of the document, as the converter writes them, each once.
  std::unordered_set<std::string> seen;
  for_each_stretch(open.analysis, text, 0, text.size(),
                   [&](const Analysis& stretch, std::size_t, std::size_t) {
                     for (const TokenEvent& t : stretch.tokens) {
                       if (t.role != TokenRole::Word) continue;
                       std::string word = upper_word(text.substr(t.offset, t.length));
                       if (word.find('"') == std::string::npos) seen.insert(std::move(word));
                     }
                   });
  std::vector<std::string> words(std::make_move_iterator(seen.begin()),
                                 std::make_move_iterator(seen.end()));
  std::sort(words.begin(), words.end());
  for (const std::string& word : words) {
    if (analysis.find_definition(word) == nullptr) items.push_back({{"label", word}, {"kind", 6}});
  }
  reply(id, std::move(items));
}

Json Server::document_symbols(const Json& params) {
  const OpenDocument& open = open_document(params);
  const Analysis& analysis = open.kept();
  Json symbols = Json::array();
  const auto whole_line = [&](const SourceRange& place) {
    const LineIndex& index = open.document.index();
    const std::size_t line = index.line_of(place.offset);
    const std::size_t start = index.line_start(line);
    return range(open.document, start, start + index.line_text(line).size());
  };
  for (const Definition& d : analysis.definitions) {
    if (d.place.line == 0) continue;
    symbols.push_back({{"name", d.name},
                       {"detail", "= " + d.value},
                       {"kind", 14},
                       {"range", whole_line(d.place)},
                       {"selectionRange", range(open.document, d.place)}});
  }
  std::vector<std::string_view> targets;
  for (const LineNumberUse& j : analysis.jumps)
    targets.push_back(j.number);
  std::sort(targets.begin(), targets.end());
  for (const LineNumberUse& label : analysis.labels) {
    if (!std::binary_search(targets.begin(), targets.end(), label.number)) continue;
    symbols.push_back({{"name", label.number},
                       {"detail", "line " + std::to_string(label.place.line)},
                       {"kind", 16},
                       {"range", whole_line(label.place)},
                       {"selectionRange", range(open.document, label.place)}});
  }
  return symbols;
}

PackedIntegers Server::semantic_data(const OpenDocument& open, std::size_t from, std::size_t to,
                                     TextPosition* after) const {
  const std::string_view text = open.document.text();
  const LineIndex& index = open.document.index();
  to = std::min(to, text.size());
  // Packed as it grows: a large document's list is neither copied nor grown by doubling.
  PackedIntegers data;
  std::int64_t previous_line = after != nullptr ? after->line : 0;
  std::int64_t previous_start = after != nullptr ? after->character : 0;
  std::size_t on_line = index.line_of(std::min(from, text.size()));
  // The lines asked for, a stretch at a time.
  for_each_stretch(
      open.analysis, text, from, to,
      [&](const Analysis& analysis, std::size_t first, std::size_t last) {
        std::vector<std::size_t> targets;  // where the numbers that jumps name start
        for (const LineNumberUse& jump : analysis.jumps)
          targets.push_back(jump.place.offset);
        std::sort(targets.begin(), targets.end());
        auto target = targets.begin();  // the first target not before the token
        for (const TokenEvent& t : analysis.tokens) {
          // A token that began before the stretch was taken with the one before it, but for the
          // first, which takes the one that reaches into it.
          if ((first == from ? t.offset + t.length <= from : t.offset < first) || t.offset >= last)
            continue;
          if (target != targets.begin() && *std::prev(target) >= t.offset)
            target = std::lower_bound(targets.begin(), target, t.offset);
          while (target != targets.end() && *target < t.offset)
            ++target;
          const auto [type, modifiers] = semantic_type(
              t, text.substr(t.offset, t.length), target != targets.end() && *target == t.offset);
          if (type < 0) continue;
          // The tokens come in the order of the text: the editors' line that holds each is walked
          // to.
          if (t.offset < index.line_start(on_line)) on_line = index.line_of(t.offset);
          while (on_line + 1 < index.line_count() && index.line_start(on_line + 1) <= t.offset)
            ++on_line;
          const TextRange r = index.range_on(on_line, t.offset, t.offset + t.length, encoding_);
          const std::int64_t line = r.start.line;
          const std::int64_t start = r.start.character;
          const std::int64_t end = r.end.character;
          if (end <= start) continue;
          // Each is less than the text's size, which a document's text never reaches 2^32 bytes
          // for.
          data.push_back(static_cast<std::uint32_t>(line - previous_line));
          data.push_back(
              static_cast<std::uint32_t>(line == previous_line ? start - previous_start : start));
          data.push_back(static_cast<std::uint32_t>(end - start));
          data.push_back(static_cast<std::uint32_t>(type));
          data.push_back(static_cast<std::uint32_t>(modifiers));
          previous_line = line;
          previous_start = start;
        }
      });
  if (after != nullptr) *after = {previous_line, previous_start};
  return data;
}

Server::TokensEdit Server::refresh_tokens(OpenDocument& open) const {
  SentTokens& sent = open.tokens;
  if (!sent.changed) return {};
  // Tokens that all change are let go first: a large document's are not held twice.
  const std::size_t let_go = sent.same_head == 0 && sent.same_tail == 0 ? sent.data.size() : 0;
  if (let_go > 0) sent.data = {};
  const std::string_view text = open.document.text();
  const LineIndex& index = open.document.index();
  const std::size_t from = std::min(sent.same_head, text.size());
  const std::size_t to = std::max(from, text.size() - std::min(sent.same_tail, text.size()));
  // The editors' lines of the stretch made again, both ends at a line start; the lines after it
  // are those of the old text moved by as many lines as the text gained.
  const auto first_line = static_cast<std::int64_t>(index.line_of(from));
  const std::int64_t end_line =
      static_cast<std::int64_t>(index.line_of(to)) -
      (static_cast<std::int64_t>(index.line_count()) - static_cast<std::int64_t>(sent.lines));
  const bool has_tail = sent.same_tail > 0;

  // The old tokens before the stretch, those in it, and the first one after it.
  struct Token {
    std::uint32_t values[5];
    TextPosition at;
  };
  const std::size_t count = sent.data.size() / 5;
  PackedIntegers::Reader reader(sent.data);
  TextPosition at;
  std::size_t index_of = 0;  // of the next token read
  std::size_t digits = 0;    // of the tokens read
  const auto next = [&] {
    Token t{};
    for (std::uint32_t& v : t.values) {
      v = reader.next();
      digits += PackedIntegers::decimal_digits(v);
    }
    at.character = t.values[0] == 0 ? at.character + t.values[1] : t.values[1];
    at.line += t.values[0];
    t.at = at;
    ++index_of;
    return t;
  };
  TextPosition before;  // the last token before the stretch
  std::size_t head = 0, head_bytes = 0, head_digits = 0;
  std::optional<Token> tail;  // the first one after it
  std::size_t tail_bytes = sent.data.bytes();
  while (index_of < count) {
    const Token t = next();
    if (t.at.line < first_line) {
      before = t.at;
      head = index_of;
      head_bytes = reader.at();
      head_digits = digits;
      continue;
    }
    if (has_tail && t.at.line >= end_line) {
      tail = t;
      tail_bytes = reader.at();
      break;
    }
  }
  PackedIntegers middle = semantic_data(open, from, to, &before);
  if (tail) {
    // Its place as the stretch made again leaves it: the line it moved to, after the last token.
    const std::int64_t line = tail->at.line + static_cast<std::int64_t>(index.line_count()) -
                              static_cast<std::int64_t>(sent.lines);
    tail->values[0] = static_cast<std::uint32_t>(line - before.line);
    tail->values[1] = static_cast<std::uint32_t>(
        line == before.line ? tail->at.character - before.character : tail->at.character);
    for (const std::uint32_t v : tail->values)
      middle.push_back(v);
  }
  const TokensEdit edit{5 * head, head_bytes, let_go + 5 * (index_of - head), middle.size()};
  if (head_bytes == 0 && tail_bytes == sent.data.bytes()) {
    sent.data = std::move(middle);  // all of it made again: not copied
  } else {
    sent.data.splice(head_bytes, tail_bytes, edit.deleted, digits - head_digits, std::move(middle));
  }
  sent.lines = index.line_count();
  sent.changed = false;
  sent.same_head = sent.same_tail = text.size();
  return edit;
}

void Server::semantic_tokens(const Json& id, const Json& params) {
  OpenDocument& open = open_document(params);
  SentTokens& sent = open.tokens;
  refresh_tokens(open);
  sent.id = std::to_string(++result_ids_);
  std::string tail = ",\"resultId\":";
  append_json_string(tail, sent.id);
  tail += '}';
  reply_integers(id, "{\"data\":", sent.data, tail);
}

void Server::semantic_tokens_range(const Json& id, const Json& params) {
  const OpenDocument& open = open_document(params);
  const Json& range = params.at("range");
  const LineIndex& index = open.document.index();
  const auto offset_of = [&](const Json& p) {
    return index
        .offset(
            {client_integer(p.at("line"), "line"), client_integer(p.at("character"), "character")},
            encoding_)
        .value_or(open.document.text().size());
  };
  const PackedIntegers data =
      semantic_data(open, offset_of(range.at("start")), offset_of(range.at("end")));
  reply_integers(id, "{\"data\":", data, "}");
}

// The tokens as edits of the last ones sent: the one stretch of them that changed.
void Server::semantic_tokens_delta(const Json& id, const Json& params) {
  OpenDocument& open = open_document(params);
  SentTokens& sent = open.tokens;
  const Json& previous = member(params, "previousResultId");
  const bool known = previous.is_string() && previous.get<std::string>() == sent.id;
  if (!known) sent = {};
  const TokensEdit edit = refresh_tokens(open);
  sent.id = std::to_string(++result_ids_);
  std::string id_text = ",\"resultId\":";
  append_json_string(id_text, sent.id);
  id_text += '}';
  if (!known) {
    reply_integers(id, "{\"data\":", sent.data, id_text);
    return;
  }
  if (edit.deleted == 0 && edit.inserted == 0) {
    reply(id, Json{{"edits", Json::array()}, {"resultId", sent.id}});
    return;
  }
  std::string tail = ",\"deleteCount\":";
  append_json_integer(tail, static_cast<std::int64_t>(edit.deleted));
  tail += ",\"start\":";
  append_json_integer(tail, static_cast<std::int64_t>(edit.start));
  tail += "}]" + id_text;
  reply_integers(id, "{\"edits\":[{\"data\":", PackedIntegers::Reader(sent.data, edit.start_bytes),
                 edit.inserted, tail);
}

// Pull diagnostics: the same list that is published, or "unchanged" when the client has it.
Json Server::pull_diagnostics(const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  // The server's own count: a document closed and opened again never gets an id it had.
  const std::string id = std::to_string(open.diagnostics_id);
  const Json& previous = member(params, "previousResultId");
  if (previous.is_string() && previous.get<std::string>() == id)
    return {{"kind", "unchanged"}, {"resultId", id}};
  return {{"kind", "full"}, {"resultId", id}, {"items", diagnostics(uri, open)}};
}

Json Server::code_actions(const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  const Json& range_json = params.at("range");
  const std::int64_t first = client_integer(range_json.at("start").at("line"), "line");
  const std::int64_t last = client_integer(range_json.at("end").at("line"), "line");
  const Analysis& analysis = open.kept();
  const std::string& source = open.document.text();
  Json actions = Json::array();
  // Only the diagnostics of the lines asked for are looked at: they stand in the order of their
  // places, but a note may be about a line before its diagnostic's.
  const LineIndex& lines = open.document.index();
  const std::vector<KeptDiagnostic>& all = analysis.diagnostics;
  const auto before_range = [&](const KeptDiagnostic& d) {
    return static_cast<std::int64_t>(lines.line_of(d.offset)) < first;
  };
  auto start = static_cast<std::size_t>(std::partition_point(all.begin(), all.end(), before_range) -
                                        all.begin());
  // Back over the notes, and what a note before it hid from the search.
  while (start > 0 && (all[start - 1].note || !before_range(all[start - 1])))
    --start;
  for (std::size_t i = start; i < all.size(); ++i) {
    const KeptDiagnostic& d = analysis.diagnostics[i];
    const auto line = static_cast<std::int64_t>(lines.line_of(d.offset));
    if (!d.note && line > last) break;
    if (d.note || d.is_error() || line < first || line > last) continue;
    // Offered only where the converter proves it (session/quick_fix.h).
    const std::optional<QuickFix> fix = quick_fix(open.analysis, source, i);
    if (!fix) continue;
    // Each end on its own: a fix may take whole lines.
    const auto position = [&](std::size_t offset) {
      const Position p = open.document.index().position(offset, encoding_);
      return Json{{"line", p.line}, {"character", p.character}};
    };
    const Json replaced = {{"start", position(fix->from)}, {"end", position(fix->to)}};
    const SourceRange place = place_of_diagnostic(d);
    actions.push_back(
        {{"title", fix->title},
         {"kind", "quickfix"},
         {"isPreferred", true},
         {"diagnostics",
          {{{"range", range(open.document, place)},
            {"severity", 2},
            {"code", code_of(d.kind)},
            {"source", "vorpex"},
            {"message", message_of(d)}}}},
         {"edit", {{"changes", {{uri, {{{"range", replaced}, {"newText", fix->text}}}}}}}}});
  }
  // A jump to a number that begins no line: the nearest line numbers below and above it.
  if (!warnings_) return actions;
  const auto numeric_less = [](std::string_view a, std::string_view b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  };
  std::vector<std::string_view> numbers;
  for (const LineNumberUse& label : analysis.labels)
    numbers.push_back(label.number);
  std::sort(numbers.begin(), numbers.end(), numeric_less);
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  for (const LineNumberUse& jump : open.missing) {
    const auto line = static_cast<std::int64_t>(open.document.index().line_of(jump.place.offset));
    if (line < first || line > last || jump.number.empty()) continue;
    // Never the jump's own line: that would loop for ever.
    const auto own = std::partition_point(
        analysis.labels.begin(), analysis.labels.end(),
        [&](const LineNumberUse& label) { return label.place.line < jump.place.line; });
    const std::string_view own_number =
        own != analysis.labels.end() && own->place.line == jump.place.line
            ? std::string_view(own->number)
            : std::string_view();
    auto above = std::upper_bound(numbers.begin(), numbers.end(), jump.number, numeric_less);
    auto below = above;
    if (below != numbers.begin() && *std::prev(below) == own_number) --below;
    if (above != numbers.end() && *above == own_number) ++above;
    std::vector<std::string_view> nearest;
    if (below != numbers.begin()) nearest.push_back(*std::prev(below));
    if (above != numbers.end()) nearest.push_back(*above);
    for (const std::string_view number : nearest) {
      actions.push_back({{"title", "Jump to line " + std::string(number) + " instead"},
                         {"kind", "quickfix"},
                         {"diagnostics",
                          {{{"range", range(open.document, jump.place)},
                            {"severity", 2},
                            {"code", kMissingTarget},
                            {"source", "vorpex"},
                            {"message", "no line begins with the number " + jump.number}}}},
                         {"edit",
                          {{"changes",
                            {{uri,
                              {{{"range", range(open.document, jump.place)},
                                {"newText", std::string(number)}}}}}}}}});
    }
  }
  return actions;
}

Json Server::output(const Json& params) {
  const OpenDocument& open = open_document(params);
  // The analysis kept has no line map (it would hold a row for each output line): made here.
  const Analysis analysis = analysis_of(open);
  return {{"output", analysis.output}, {"lineMap", analysis.line_map()}};
}

Json Server::execute_command(const Json& params) {
  const std::string command = params.at("command").get<std::string>();
  if (command != "vorpex.showOutput")
    throw RpcError(error_code::kInvalidParams, "Invalid params: unknown command " + command);
  const Json& arguments = member(params, "arguments");
  if (!arguments.is_array() || arguments.empty())
    throw RpcError(error_code::kInvalidParams,
                   "Invalid params: vorpex.showOutput takes the document's URI");
  const Json& first = arguments.front();
  return output({{"textDocument", {{"uri", first.is_string() ? first : member(first, "uri")}}}});
}

}  // namespace vorpex::lsp
