// Renumbering in the language server: the commands, the code action and the rename of a line, all
// over the session's renumbering (session/renumber.h), which proves each one before it is sent.
#include <algorithm>

#include "lsp/framing.h"
#include "lsp/server.h"

namespace vorpex::lsp {

namespace {

const Json& member(const Json& object, std::string_view name) {
  static const Json kNull;
  if (!object.is_object()) return kNull;
  const auto found = object.find(name);
  return found == object.end() ? kNull : *found;
}

// A line number of the client's: a whole number from 0 up.
std::optional<std::uint64_t> number_of(const Json& value, std::string_view what) {
  if (value.is_null()) return std::nullopt;
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer() && value.get<std::int64_t>() >= 0)
    return static_cast<std::uint64_t>(value.get<std::int64_t>());
  throw RpcError(error_code::kInvalidParams,
                 "Invalid params: " + std::string(what) + " is not a whole number from 0 up");
}

bool covers(const SourceRange& place, std::size_t offset) {
  return offset >= place.offset && offset <= place.offset + place.length;
}

// The number of a line (its own, or a jump's target) at `offset`, and where it stands.
const LineNumberUse* line_number_at(const Analysis& analysis, std::size_t offset) {
  for (const LineNumberUse& use : analysis.labels) {
    if (covers(use.place, offset)) return &use;
  }
  for (const LineNumberUse& use : analysis.jumps) {
    // A jump through a constant's name renames the constant.
    if (covers(use.place, offset) &&
        !std::any_of(analysis.references.begin(), analysis.references.end(),
                     [&](const Reference& r) { return r.place.offset == use.place.offset; }))
      return &use;
  }
  return nullptr;
}

// Where the editor's line `line` starts in the text; the text's size past the last line, and 0
// before the first.
std::size_t lines_start(const OpenDocument& open, std::int64_t line) {
  return line <= 0 ? 0 : open.document.index().line_start(static_cast<std::size_t>(line));
}

}  // namespace

Json Server::workspace_edit(const std::string& uri, const Document& document,
                            const std::vector<RenumberEdit>& edits) const {
  const auto position = [&](std::size_t offset) {
    const Position p = document.index().position(offset, encoding_);
    return Json{{"line", p.line}, {"character", p.character}};
  };
  Json list = Json::array();
  for (const RenumberEdit& e : edits) {
    list.push_back(
        {{"range", {{"start", position(e.from)}, {"end", position(e.to)}}}, {"newText", e.text}});
  }
  return {{"changes", {{uri, list}}}};
}

Json Server::renumber_command(const Json& argument, bool move) {
  const Json& uri_json = argument.is_string() ? argument : member(argument, "uri");
  if (!uri_json.is_string())
    throw RpcError(error_code::kInvalidParams, std::string("Invalid params: ") +
                                                   (move ? "vorpex.moveLines" : "vorpex.renumber") +
                                                   " takes the document's URI");
  const std::string uri = uri_json.get<std::string>();
  const OpenDocument& open = open_document({{"textDocument", {{"uri", uri}}}});
  const std::string& text = open.document.text();
  RenumberRequest request;
  request.kind = move ? RenumberRequest::Kind::Move : RenumberRequest::Kind::Renumber;
  request.largest = largest_line_;
  request.from = number_of(member(argument, "from"), "from");
  request.to = number_of(member(argument, "to"), "to");
  // A range of the editor's lines: the lines of the program that begin in it.
  if (const Json& range = member(argument, "range"); range.is_object()) {
    const std::int64_t first = client_integer(range.at("start").at("line"), "line");
    const std::int64_t last = client_integer(range.at("end").at("line"), "line");
    if (const std::string refusal = select_lines(open.kept(), lines_start(open, first),
                                                 lines_start(open, last + 1), request);
        !refusal.empty())
      throw RpcError(error_code::kRequestFailed, refusal);
  }
  if (const std::optional<std::uint64_t> start = number_of(member(argument, "start"), "start"))
    request.start = *start;
  if (const std::optional<std::uint64_t> step = number_of(member(argument, "step"), "step"))
    request.step = *step;
  if (move) {
    const std::optional<std::uint64_t> after = number_of(member(argument, "after"), "after");
    if (!after)
      throw RpcError(error_code::kInvalidParams,
                     "Invalid params: vorpex.moveLines takes the line to move after (after)");
    request.after = *after;
  }
  if (const Json& go_on = member(argument, "pastComputed"); go_on.is_boolean())
    request.past_computed = go_on.get<bool>();
  const RenumberResult result = renumber(text, request, options(false));
  if (result.refused()) throw RpcError(error_code::kRequestFailed, result.refusal);
  Json warnings = Json::array();
  for (const RenumberWarning& w : result.warnings) {
    warnings.push_back(
        {{"range", range(open.document, w.place)}, {"code", w.code}, {"message", w.message}});
  }
  Json numbers = Json::array();
  for (const auto& [from, to] : result.numbers)
    numbers.push_back({from, std::to_string(to)});
  if (!result.edits.empty()) {
    // One edit of the whole document, which the client applies as one undo step.
    write_message(out_, Json{{"jsonrpc", "2.0"},
                             {"id", "vorpex.applyEdit." + std::to_string(++edits_sent_)},
                             {"method", "workspace/applyEdit"},
                             {"params",
                              {{"label", move ? "Move lines" : "Renumber lines"},
                               {"edit", workspace_edit(uri, open.document, result.edits)}}}}
                            .dump(-1, ' ', false, Json::error_handler_t::replace));
  }
  return {{"edits", result.edits.size()}, {"numbers", numbers}, {"warnings", warnings}};
}

Json Server::execute_any_command(const Json& params) {
  const Json& command = member(params, "command");
  const bool renumbering = command == "vorpex.renumber";
  if (!renumbering && command != "vorpex.moveLines") return execute_command(params);
  const Json& arguments = member(params, "arguments");
  if (!arguments.is_array() || arguments.empty())
    throw RpcError(error_code::kInvalidParams,
                   "Invalid params: " + command.get<std::string>() +
                       " takes the document's URI, or an object with it");
  return renumber_command(arguments.front(), !renumbering);
}

Json Server::code_actions_with_renumber(const Json& params) {
  Json actions = code_actions(params);
  const OpenDocument& open = open_document(params);
  const Json& range_json = params.at("range");
  const std::int64_t first = client_integer(range_json.at("start").at("line"), "line");
  const std::int64_t last = client_integer(range_json.at("end").at("line"), "line");
  // Offered on a selection that holds a line number at the start of a line.
  RenumberRequest request;
  if (first == last ||
      !select_lines(open.kept(), lines_start(open, first), lines_start(open, last + 1), request)
           .empty())
    return actions;
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  actions.push_back({{"title", "Renumber lines..."},
                     {"kind", "refactor.rewrite"},
                     {"command",
                      {{"title", "Renumber lines..."},
                       {"command", "vorpex.renumber"},
                       {"arguments", {{{"uri", uri}, {"range", range_json}}}}}}});
  return actions;
}

Json Server::prepare_rename(const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::size_t offset = place_of(open, params);
  const Analysis& analysis = open.kept();
  if (const LineNumberUse* use = line_number_at(analysis, offset)) {
    if (analysis.find_label(use->number) == nullptr)
      throw RpcError(error_code::kRequestFailed,
                     "no line begins with the number " + use->number + ": nothing to rename");
    return {{"range", range(open.document, use->place)}, {"placeholder", use->number}};
  }
  for (const Definition& d : analysis.definitions) {
    if (d.place.line > 0 && covers(d.place, offset))
      return {{"range", range(open.document, d.place)},
              {"placeholder", open.document.text().substr(d.place.offset, d.place.length)}};
  }
  for (const Reference& r : analysis.references) {
    if (covers(r.place, offset))
      return {{"range", range(open.document, r.place)},
              {"placeholder", open.document.text().substr(r.place.offset, r.place.length)}};
  }
  throw RpcError(error_code::kRequestFailed,
                 "only a line number, or a name that DEFINE defines, can be renamed");
}

Json Server::rename_line(const Json& params) {
  const OpenDocument& open = open_document(params);
  const std::size_t offset = place_of(open, params);
  const Analysis& analysis = open.kept();
  const LineNumberUse* use = line_number_at(analysis, offset);
  if (use == nullptr) return nullptr;
  const std::string new_name = params.at("newName").get<std::string>();
  std::uint64_t number = 0;
  std::uint64_t step = 0;
  if (!parse_start_step(new_name, number, step) || new_name.find(',') != std::string::npos)
    throw RpcError(error_code::kRequestFailed,
                   "'" + new_name + "' is not a line number: a line number is digits alone");
  if (analysis.find_label(use->number) == nullptr)
    throw RpcError(error_code::kRequestFailed,
                   "no line begins with the number " + use->number + ": nothing to rename");
  RenumberRequest request;
  try {
    request.from = std::stoull(use->number);
  } catch (const std::exception&) {
    throw RpcError(error_code::kRequestFailed, "line " + use->number + " is too large");
  }
  request.to = request.from;
  request.start = number;
  request.step = 1;
  request.largest = largest_line_;
  const RenumberResult result = renumber(open.document.text(), request, options(false));
  if (result.refused()) throw RpcError(error_code::kRequestFailed, result.refusal);
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  return workspace_edit(uri, open.document, result.edits);
}

}  // namespace vorpex::lsp
