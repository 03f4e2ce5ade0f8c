#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/byte_sink.h"
#include "lsp/document.h"
#include "session/analysis.h"
#include "session/cr_joins_index.h"
#include "session/incremental_analysis.h"
#include "session/packed_integers.h"
#include "session/renumber.h"

namespace vorpex::lsp {

using Json = nlohmann::json;

// JSON-RPC and protocol error codes.
namespace error_code {
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kServerNotInitialized = -32002;
inline constexpr int kRequestFailed = -32803;
}  // namespace error_code

// A whole number of the client's message, checked before use: InvalidParams (RpcError) unless it
// is an integer in [0, 2^31 - 1], the range of the protocol's uinteger and of any position.
std::int64_t client_integer(const Json& value, std::string_view what);
// The same for a document's version, which may be any 32-bit integer.
std::int64_t client_version(const Json& value);

// A request that fails: the error the reply carries.
struct RpcError : std::runtime_error {
  RpcError(int code, const std::string& message) : std::runtime_error(message), code(code) {}
  int code;
};

// The semantic tokens last sent, kept across the changes of the text since: those of its first
// `same_head` bytes and of its last `same_tail` bytes still hold, and the lines between are made
// again at the next request for tokens and spliced in.
struct SentTokens {
  PackedIntegers data;
  std::string id;         // the result id they were sent with
  std::size_t lines = 0;  // the editors' lines of the text they were made for
  bool changed = true;    // the text changed since (at first: nothing is made yet)
  std::size_t same_head = 0;
  std::size_t same_tail = 0;
};

// An open document and its analysis, kept from one change to the next (the tokens of the analysis,
// which completion and rename want, and the line map, which only the output's request wants, are
// made again for each of those requests).
struct OpenDocument {
  Document document;
  std::int64_t version = 0;
  IncrementalAnalysis analysis;
  std::uint64_t analysis_settings = 0;     // the settings it was made with, counted from 1
  std::vector<LineNumberUse> missing;      // jumps to a line that no line begins with
  CrJoinsIndex cr_index;                   // the CRs that end no line, kept across the changes
  std::optional<KeptDiagnostic> cr_joins;  // their warning, if any
  std::uint64_t generation = 0;            // counts the changes of the text
  std::uint64_t diagnostics_id = 0;  // the pull diagnostics' result id, from the server's count
  SentTokens tokens;                 // the semantic tokens last sent in full or as a delta
  bool stale = false;                // changed since its diagnostics were made and published

  const Analysis& kept() const { return analysis.analysis(); }
  // Those the settings ask for, as last published.
  const std::vector<KeptDiagnostic>& diagnostics() const { return kept().diagnostics; }
};

// The server: takes each message's content, answers through `out`, and keeps the open documents.
class Server {
 public:
  explicit Server(ByteSink& out) : out_(out) {}

  // Handles one message's content. Never throws; a message that cannot be served gets its error
  // reply (a request) or is dropped (a notification).
  void handle(std::string_view body);
  // The same for a body that is not needed afterwards: it is let go before the message is
  // served, so that a large document is not held twice while it is analysed.
  void handle_owned(std::string&& body);
  // The reader's troubles, answered as the protocol says: a header that could not be read is a
  // parse error, a message over the limit an invalid request; both with a null id.
  void header_error(std::string_view why) {
    settle();
    reply_error(nullptr, error_code::kParseError, why);
  }
  void too_large(std::string_view why) {
    settle();
    reply_error(nullptr, error_code::kInvalidRequest, why);
  }

  // With coalescing on, a change marks its document and the analysis and publication wait for
  // settle(), which the reading loop calls once no more input is waiting, and which any message
  // but a change calls first: a burst of changes is analysed once, and only its last diagnostics
  // are published. Off (the default), each change is analysed and published at once.
  void set_coalescing(bool on) { coalescing_ = on; }
  void settle();

  // After the exit notification: the status the process ends with.
  bool exited() const { return exited_; }
  int exit_status() const { return shut_down_ ? 0 : 1; }

  // For tests and the benchmark.
  const OpenDocument* document(const std::string& uri) const;
  Encoding encoding() const { return encoding_; }
  // The publishDiagnostics notification of a document, built as a tree (the form the tests check
  // the fast writer against) and as the text the server writes.
  Json diagnostics(const std::string& uri, const OpenDocument& open) const;
  std::string publish_text(const std::string& uri, const OpenDocument& open) const;

 private:
  // Serves a message, parsed (a discarded value when its content was not JSON).
  void handle_message(Json& message);
  // `params` may be taken from: a notification moves the text it keeps.
  void dispatch(const std::string& method, Json& params, const Json* id);
  void reply(const Json& id, Json result);
  // The same with the result given as JSON text.
  void reply_text(const Json& id, std::string_view result);
  // The same with a result of `head`, `count` integers of a packed list as a JSON array, and
  // `tail`, written as it is sent.
  void reply_integers(const Json& id, std::string_view head, PackedIntegers::Reader list,
                      std::size_t count, std::string_view tail);
  // The same with the whole list, whose text's size is known without reading it.
  void reply_integers(const Json& id, std::string_view head, const PackedIntegers& list,
                      std::string_view tail);
  void reply_error(const Json& id, int code, std::string_view message);
  void notify(std::string_view method, Json params);
  void log(int type, std::string_view message);
  // Tells the user, and the log, why the constants of the settings were refused.
  void refused(const std::string& why);

  // Lifecycle and settings.
  Json initialize(const Json& params);
  void apply_settings(const Json& settings);

  // Documents.
  void did_open(Json& params);
  void did_change(const Json& params);
  void did_close(const Json& params);
  OpenDocument& open_document(const Json& params);
  void analyse(OpenDocument& open);
  void publish(const std::string& uri, const OpenDocument& open);

  // Features (features.cc).
  Json hover(const Json& params);
  Json definition(const Json& params);
  Json references(const Json& params);
  Json rename(const Json& params);
  void completion(const Json& id, const Json& params);  // replies itself: see below
  Json document_symbols(const Json& params);
  // These answer themselves (reply_integers): too many numbers for a tree, or for a text.
  void semantic_tokens(const Json& id, const Json& params);
  void semantic_tokens_range(const Json& id, const Json& params);
  void semantic_tokens_delta(const Json& id, const Json& params);
  Json pull_diagnostics(const Json& params);
  // The semantic tokens of the bytes [from, to) of a document, encoded as the protocol says, the
  // first one after a token at `*after` (line and character) when it is given; `*after` is then
  // left at the last one.
  PackedIntegers semantic_data(const OpenDocument& open, std::size_t from, std::size_t to,
                               TextPosition* after = nullptr) const;
  // Brings the tokens last sent up to the text; what changed is one stretch of their integers.
  struct TokensEdit {
    std::size_t start = 0;  // the first integer that changed
    std::size_t start_bytes = 0;
    std::size_t deleted = 0;  // the integers it replaced
    std::size_t inserted = 0;
  };
  TokensEdit refresh_tokens(OpenDocument& open) const;
  Json code_actions(const Json& params);
  Json output(const Json& params);
  Json execute_command(const Json& params);

  // Renumbering (renumber.cc): the commands vorpex.renumber and vorpex.moveLines (answered with
  // one workspace/applyEdit), the code action "Renumber lines...", and the rename of a line.
  Json execute_any_command(const Json& params);
  Json code_actions_with_renumber(const Json& params);
  Json renumber_command(const Json& argument, bool move);
  Json prepare_rename(const Json& params);
  // The rename of the line whose number stands at the request's position; null when none does.
  Json rename_line(const Json& params);
  // The edits as a WorkspaceEdit of one document.
  Json workspace_edit(const std::string& uri, const Document& document,
                      const std::vector<RenumberEdit>& edits) const;

  // Helpers shared by the features.
  Json range(const Document& document, std::size_t from, std::size_t to) const;
  Json range(const Document& document, const SourceRange& place) const {
    return range(document, place.offset, place.offset + place.length);
  }
  Json location(const std::string& uri, const Document& document, const SourceRange& place) const;
  // The byte offset of a request's position; RpcError when out of range.
  std::size_t place_of(const OpenDocument& open, const Json& params) const;
  SessionOptions options(bool keep_tokens) const;
  Analysis analysis_of(const OpenDocument& open, bool keep_tokens = false) const {
    return analyze(open.document.text(), options(keep_tokens));
  }

  ByteSink& out_;
  bool initialized_ = false;
  bool shut_down_ = false;
  bool exited_ = false;
  Encoding encoding_ = Encoding::Utf16;
  std::vector<std::string> defines_;  // NAME=VALUE each
  bool warnings_ = true;
  std::optional<std::uint64_t> largest_line_;  // the setting largestLineNumber
  std::int64_t edits_sent_ = 0;                // counts the workspace/applyEdit requests
  bool coalescing_ = false;
  std::uint64_t settings_generation_ = 0;  // counts the settings applied
  std::uint64_t result_ids_ = 0;           // the last semantic tokens' result id
  std::uint64_t diagnostic_ids_ = 0;       // the last pull diagnostics' result id
  bool related_information_ = false;       // the client shows a diagnostic's related information
  std::map<std::string, std::unique_ptr<OpenDocument>, std::less<>> documents_;
};

}  // namespace vorpex::lsp
