#include "lsp/server.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/diagnostic_text.h"
#include "lsp/framing.h"
#include "session/json.h"

namespace vorpex::lsp {

namespace {

// Replies and notifications are dumped with every byte that is not valid UTF-8 replaced, so that
// a document's stray bytes never make a message that is not JSON.
std::string dump(const Json& message) {
  return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool valid_id(const Json& id) {
  return id.is_number_integer() || id.is_number_unsigned() || id.is_string();
}

const Json& member(const Json& object, std::string_view name) {
  static const Json kNull;
  if (!object.is_object()) return kNull;
  const auto found = object.find(name);
  return found == object.end() ? kNull : *found;
}

// The value of an integer in [min, max], or InvalidParams naming `what`.
std::int64_t checked_integer(const Json& value, std::string_view what, std::int64_t min,
                             std::int64_t max) {
  std::int64_t number = 0;
  bool ok = false;
  if (value.is_number_unsigned()) {
    const auto n = value.get<std::uint64_t>();
    ok = n <= static_cast<std::uint64_t>(max);
    number = ok ? static_cast<std::int64_t>(n) : 0;
  } else if (value.is_number_integer()) {
    number = value.get<std::int64_t>();
    ok = number >= min && number <= max;
  }
  if (!ok) {
    throw RpcError(error_code::kInvalidParams,
                   "Invalid params: " + std::string(what) + " is not a whole number from " +
                       std::to_string(min) + " to " + std::to_string(max));
  }
  return number;
}

}  // namespace

std::int64_t client_integer(const Json& value, std::string_view what) {
  return checked_integer(value, what, 0, 2147483647);
}

std::int64_t client_version(const Json& value) {
  return checked_integer(value, "version", -2147483648LL, 2147483647);
}

void Server::reply(const Json& id, Json result) {
  write_message(out_, dump(Json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}));
}

namespace {

// The start of a reply whose result is written as text: the members in the order that dump()
// sorts them.
std::string reply_head(const Json& id) {
  return "{\"id\":" + dump(id) + ",\"jsonrpc\":\"2.0\",\"result\":";
}

}  // namespace

void Server::reply_text(const Json& id, std::string_view result) {
  // The result, which may be a large document's line numbers, is not copied.
  write_message(out_, {reply_head(id), result, "}"});
}

namespace {

// A reply of `head`, the integers' text of `list_size` bytes, and `tail`.
void send_integers(ByteSink& out, const std::string& start, PackedIntegers::Reader list,
                   std::size_t count, std::size_t list_size, std::string_view tail) {
  write_message(out, start.size() + list_size + tail.size() + 1, [&](ByteSink& body) {
    return body.write(start) && write_json_integers(body, list, count) && body.write(tail) &&
           body.write("}");
  });
}

}  // namespace

void Server::reply_integers(const Json& id, std::string_view head, PackedIntegers::Reader list,
                            std::size_t count, std::string_view tail) {
  send_integers(out_, reply_head(id) + std::string(head), list, count,
                json_integers_size(list, count), tail);
}

void Server::reply_integers(const Json& id, std::string_view head, const PackedIntegers& list,
                            std::string_view tail) {
  send_integers(out_, reply_head(id) + std::string(head), PackedIntegers::Reader(list), list.size(),
                json_integers_size(list), tail);
}

void Server::reply_error(const Json& id, int code, std::string_view message) {
  write_message(out_, dump(Json{{"jsonrpc", "2.0"},
                                {"id", id},
                                {"error", {{"code", code}, {"message", message}}}}));
}

void Server::notify(std::string_view method, Json params) {
  write_message(out_,
                dump(Json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}));
}

void Server::log(int type, std::string_view message) {
  notify("window/logMessage", {{"type", type}, {"message", message}});
}

namespace {

// The content with each number that no double can hold (1e400) made null, outside strings: the
// message is then JSON, and the request that holds it gets its own error (the number is not a
// whole number in range) rather than a parse error that no id answers. Empty when none was.
std::string without_huge_numbers(std::string_view body) {
  std::string out;
  bool changed = false;
  std::string number;
  for (std::size_t i = 0; i < body.size();) {
    const char c = body[i];
    if (c == '"') {
      // A string, to its closing quote, escapes stepped over.
      std::size_t j = i + 1;
      while (j < body.size() && body[j] != '"')
        j += body[j] == '\\' ? 2 : 1;
      j = std::min(j + 1, body.size());
      out.append(body, i, j - i);
      i = j;
      continue;
    }
    if (c != '-' && (c < '0' || c > '9')) {
      out += c;
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < body.size() &&
           std::string_view("0123456789.eE+-").find(body[j]) != std::string_view::npos)
      ++j;
    number.assign(body, i, j - i);
    const double value = std::strtod(number.c_str(), nullptr);
    if (std::isfinite(value)) {
      out += number;
    } else {
      out += "null";
      changed = true;
    }
    i = j;
  }
  return changed ? out : std::string();
}

Json parsed(std::string_view body) {
  Json message = Json::parse(body, nullptr, false);
  if (message.is_discarded()) {
    if (const std::string tamed = without_huge_numbers(body); !tamed.empty())
      message = Json::parse(tamed, nullptr, false);
  }
  return message;
}

}  // namespace

void Server::handle(std::string_view body) {
  Json message = parsed(body);
  handle_message(message);
}

void Server::handle_owned(std::string&& body) {
  Json message = parsed(body);
  std::string().swap(body);
  handle_message(message);
}

void Server::handle_message(Json& message) {
  if (message.is_discarded()) {
    reply_error(nullptr, error_code::kParseError, "Parse error: the content is not JSON");
    return;
  }
  if (!message.is_object()) {
    reply_error(nullptr, error_code::kInvalidRequest,
                "Invalid request: a message is a JSON object");
    return;
  }
  const Json& id = member(message, "id");
  const bool has_id = message.contains("id");
  const Json& method = member(message, "method");
  if (!method.is_string()) {
    // A response to a request of ours (none is sent that wants one): nothing to do.
    if (has_id && (message.contains("result") || message.contains("error"))) return;
    reply_error(valid_id(id) ? id : Json(), error_code::kInvalidRequest,
                "Invalid request: no method");
    return;
  }
  if (member(message, "jsonrpc") != "2.0" || (has_id && !valid_id(id))) {
    reply_error(valid_id(id) ? id : Json(), error_code::kInvalidRequest,
                "Invalid request: not a JSON-RPC 2.0 message with a number or string id");
    return;
  }
  Json& params = message["params"];  // null when there is none
  if (!params.is_null() && !params.is_object() && !params.is_array()) {
    if (has_id) reply_error(id, error_code::kInvalidParams, "Invalid params: not an object");
    return;
  }
  const std::string name = method.get<std::string>();
  // Only a change may wait behind another change: anything else sees the diagnostics published.
  if (name != "textDocument/didChange") settle();
  dispatch(name, params, has_id ? &id : nullptr);
}

void Server::settle() {
  for (auto& [uri, open] : documents_) {
    if (!open->stale) continue;
    analyse(*open);
    publish(uri, *open);
  }
}

void Server::dispatch(const std::string& name, Json& params, const Json* id) {
  using Handler = Json (Server::*)(const Json&);
  static const std::map<std::string, Handler, std::less<>> kRequests = {
      {"textDocument/hover", &Server::hover},
      {"textDocument/definition", &Server::definition},
      {"textDocument/references", &Server::references},
      {"textDocument/rename", &Server::rename},
      {"textDocument/prepareRename", &Server::prepare_rename},
      {"textDocument/documentSymbol", &Server::document_symbols},
      {"textDocument/diagnostic", &Server::pull_diagnostics},
      {"textDocument/codeAction", &Server::code_actions_with_renumber},
      {"workspace/executeCommand", &Server::execute_any_command},
      {"vorpex/output", &Server::output},
  };
  using SelfReplying = void (Server::*)(const Json&, const Json&);
  static const std::map<std::string, SelfReplying, std::less<>> kSelfReplying = {
      {"textDocument/completion", &Server::completion},
      {"textDocument/semanticTokens/full", &Server::semantic_tokens},
      {"textDocument/semanticTokens/full/delta", &Server::semantic_tokens_delta},
      {"textDocument/semanticTokens/range", &Server::semantic_tokens_range},
  };
  using Notification = void (Server::*)(const Json&);
  static const std::map<std::string, Notification, std::less<>> kNotifications = {
      {"textDocument/didChange", &Server::did_change},
      {"textDocument/didClose", &Server::did_close},
  };

  if (id == nullptr) {
    // Notifications: never answered; what cannot be done is logged.
    if (name == "exit") {
      exited_ = true;
      return;
    }
    if (!initialized_ || shut_down_) return;
    try {
      if (name == "workspace/didChangeConfiguration") {
        const Json& settings = member(params, "settings");
        apply_settings(member(settings, "vorpex").is_object() ? member(settings, "vorpex")
                                                              : settings);
        for (auto& [uri, open] : documents_) {
          analyse(*open);
          publish(uri, *open);
        }
      } else if (name == "textDocument/didOpen") {
        did_open(params);
      } else if (const auto found = kNotifications.find(name); found != kNotifications.end()) {
        (this->*found->second)(params);
      }
    } catch (const std::exception& e) {
      log(1, name + ": " + e.what());
    }
    return;
  }

  try {
    if (name == "initialize") {
      if (initialized_) throw RpcError(error_code::kInvalidRequest, "already initialized");
      Json result = initialize(params);
      initialized_ = true;
      reply(*id, std::move(result));
      return;
    }
    if (!initialized_)
      throw RpcError(error_code::kServerNotInitialized, "the server is not initialized yet");
    if (shut_down_) throw RpcError(error_code::kInvalidRequest, "the server is shut down");
    if (name == "shutdown") {
      shut_down_ = true;
      reply(*id, nullptr);
      return;
    }
    if (const auto own = kSelfReplying.find(name); own != kSelfReplying.end()) {
      (this->*own->second)(*id, params);
      return;
    }
    const auto found = kRequests.find(name);
    if (found == kRequests.end())
      throw RpcError(error_code::kMethodNotFound, "Method not found: " + name);
    reply(*id, (this->*found->second)(params));
  } catch (const RpcError& e) {
    reply_error(*id, e.code, e.what());
  } catch (const Json::exception& e) {
    reply_error(*id, error_code::kInvalidParams, std::string("Invalid params: ") + e.what());
  }
}

Json Server::initialize(const Json& params) {
  const Json& encodings =
      member(member(member(params, "capabilities"), "general"), "positionEncodings");
  encoding_ = Encoding::Utf16;
  if (encodings.is_array() &&
      std::find(encodings.begin(), encodings.end(), "utf-8") != encodings.end())
    encoding_ = Encoding::Utf8;
  related_information_ =
      member(member(member(member(params, "capabilities"), "textDocument"), "publishDiagnostics"),
             "relatedInformation") == true;
  apply_settings(member(params, "initializationOptions"));
  return {
      {"capabilities",
       {{"positionEncoding", encoding_ == Encoding::Utf8 ? "utf-8" : "utf-16"},
        {"textDocumentSync", {{"openClose", true}, {"change", 2}}},
        {"hoverProvider", true},
        {"definitionProvider", true},
        {"referencesProvider", true},
        {"renameProvider", {{"prepareProvider", true}}},
        {"completionProvider", Json::object()},
        {"documentSymbolProvider", true},
        {"codeActionProvider", {{"codeActionKinds", {"quickfix", "refactor.rewrite"}}}},
        {"executeCommandProvider",
         {{"commands", {"vorpex.showOutput", "vorpex.renumber", "vorpex.moveLines"}}}},
        {"diagnosticProvider", {{"interFileDependencies", false}, {"workspaceDiagnostics", false}}},
        {"semanticTokensProvider",
         {{"legend",
           {{"tokenTypes",
             {"variable", "number", "label", "string", "operator", "comment", "keyword", "macro"}},
            {"tokenModifiers", {"declaration"}}}},
          {"range", true},
          {"full", {{"delta", true}}}}}}},
      {"serverInfo", {{"name", "vorpex-lsp"}}},
  };
}

void Server::apply_settings(const Json& settings) {
  if (!settings.is_object()) return;
  ++settings_generation_;
  if (const Json& warnings = member(settings, "warnings"); warnings.is_boolean())
    warnings_ = warnings.get<bool>();
  if (const Json& largest = member(settings, "largestLineNumber");
      settings.contains("largestLineNumber")) {
    if (largest.is_number_unsigned() ||
        (largest.is_number_integer() && largest.get<std::int64_t>() >= 0))
      largest_line_ = largest.get<std::uint64_t>();
    else
      largest_line_.reset();
  }
  const Json& defines = member(settings, "defines");
  if (!defines.is_object()) return;
  // Each constant is checked as the command line checks -D: one that is refused is shown to the
  // user and left out, and the others are used.
  std::vector<std::string> texts;
  for (const auto& [name, value] : defines.items()) {
    std::string text = name + "=";
    if (value.is_string()) {
      text += value.get<std::string>();
    } else if (value.is_number_integer() || value.is_number_unsigned()) {
      text += value.dump();
    } else {
      text += value.dump();
      refused("cannot define " + vorpex::quoted(text) +
              ": the value must be a string or a whole number");
      continue;
    }
    texts.push_back(std::move(text));
  }
  std::vector<ConstantRefusal> left_out;
  defines_ = accepted_constants(texts, left_out);
  for (const ConstantRefusal& r : left_out)
    refused(r.message);
}

void Server::refused(const std::string& why) {
  const std::string message = "vorpex: vorpex.defines: " + why + "; left out";
  notify("window/showMessage", {{"type", 1}, {"message", message}});
  log(1, message);
}

SessionOptions Server::options(bool keep_tokens) const {
  SessionOptions options;
  options.defines = defines_;
  options.warnings = warnings_;
  options.tokens = keep_tokens;
  return options;
}

const OpenDocument* Server::document(const std::string& uri) const {
  const auto found = documents_.find(uri);
  return found == documents_.end() ? nullptr : found->second.get();
}

OpenDocument& Server::open_document(const Json& params) {
  const Json& uri = member(member(params, "textDocument"), "uri");
  if (!uri.is_string())
    throw RpcError(error_code::kInvalidParams, "Invalid params: no textDocument.uri");
  const auto found = documents_.find(uri.get<std::string>());
  if (found == documents_.end())
    throw RpcError(error_code::kInvalidParams, "document not open: " + uri.get<std::string>());
  return *found->second;
}

void Server::analyse(OpenDocument& open) {
  ++open.generation;
  open.stale = false;
  const TextChange change = open.document.take_change();
  if (open.analysis_settings != settings_generation_ + 1) {
    open.analysis = IncrementalAnalysis(options(false));
    open.analysis.reset(open.document.text());
    open.analysis_settings = settings_generation_ + 1;
    open.cr_index.reset(open.document.text());
    open.tokens.changed = true;
    open.tokens.same_head = open.tokens.same_tail = 0;
  } else if (change.changed) {
    open.analysis.update(open.document.text(), change);
    open.cr_index.update(open.document.text(), change);
    // The semantic tokens sent still hold outside the lines read again.
    SentTokens& tokens = open.tokens;
    tokens.changed = true;
    tokens.same_head = std::min(tokens.same_head, open.analysis.read_from());
    tokens.same_tail =
        std::min(tokens.same_tail, open.document.text().size() - open.analysis.read_to());
  }
  open.missing = open.analysis.missing_targets();
  open.cr_joins = open.cr_index.warning(open.document.text());
  open.diagnostics_id = ++diagnostic_ids_;
}

void Server::did_open(Json& params) {
  Json& item = params.at("textDocument");
  const std::string uri = item.at("uri").get<std::string>();
  auto open = std::make_unique<OpenDocument>();
  // The text is taken from the message, not copied.
  open->document.set_text(std::move(item.at("text").get_ref<std::string&>()));
  open->version = item.contains("version") ? client_version(item.at("version")) : 0;
  analyse(*open);
  publish(uri, *open);
  documents_[uri] = std::move(open);
}

void Server::did_change(const Json& params) {
  OpenDocument& open = open_document(params);
  for (const Json& change : params.at("contentChanges")) {
    const std::string& text = change.at("text").get_ref<const std::string&>();
    if (!change.contains("range")) {
      open.document.set_text(text);
      continue;
    }
    const Json& range = change.at("range");
    const auto position = [](const Json& p) {
      return Position{client_integer(p.at("line"), "line"),
                      client_integer(p.at("character"), "character")};
    };
    if (!open.document.replace(position(range.at("start")), position(range.at("end")), text,
                               encoding_))
      log(1, "vorpex: a change with a malformed range was ignored");
  }
  if (const Json& version = member(params.at("textDocument"), "version"); !version.is_null())
    open.version = client_version(version);
  open.stale = true;
  if (!coalescing_) settle();
}

void Server::did_close(const Json& params) {
  const std::string uri = params.at("textDocument").at("uri").get<std::string>();
  if (documents_.erase(uri) != 0)
    notify("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", Json::array()}});
}

void Server::publish(const std::string& uri, const OpenDocument& open) {
  write_message(out_, publish_text(uri, open));
}

}  // namespace vorpex::lsp
