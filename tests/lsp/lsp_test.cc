#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lsp/document.h"
#include "lsp/framing.h"
#include "lsp/server.h"
#include "session/json.h"
#include "tests/support/memory_io.h"

namespace vorpex::lsp {
namespace {

class StringSource : public ByteSource {
 public:
  // Hands out at most `step` bytes a read, so that messages arrive in pieces.
  StringSource(std::string text, std::size_t step) : text_(std::move(text)), step_(step) {}
  std::size_t read(std::span<char> buffer) override {
    const std::size_t n = std::min({buffer.size(), step_, text_.size() - at_});
    text_.copy(buffer.data(), n, at_);
    at_ += n;
    return n;
  }

 private:
  std::string text_;
  std::size_t step_;
  std::size_t at_ = 0;
};

struct FramingRow {
  std::string input;
  std::vector<ReadStatus> statuses;  // End last, implied
  std::vector<std::string> bodies;   // of the messages, in order
};

TEST(MessageReader, ReadsMessagesAndSkipsBrokenHeaders) {
  const std::string big(9000, 'x');
  const std::vector<FramingRow> rows = {
      {"Content-Length: 2\r\n\r\n{}Content-Length: 3\r\n\r\n[1]",
       {ReadStatus::Message, ReadStatus::Message},
       {"{}", "[1]"}},
      {"content-length:  2 \r\nContent-Type: x\r\n\r\n{}", {ReadStatus::Message}, {"{}"}},
      {"Content-Type: x\r\n\r\nContent-Length: 1\r\n\r\n1",
       {ReadStatus::BadHeader, ReadStatus::Message},
       {"1"}},
      // A header without a length, then its content: the reader goes on at the next length.
      {"X-Foo: 1\r\n\r\n{\"id\":1}Content-Length: 2\r\n\r\n{}Content-Length: 1\r\n\r\n5",
       {ReadStatus::BadHeader, ReadStatus::Message, ReadStatus::Message},
       {"{}", "5"}},
      {"X-Foo: 1\r\n\r\nno length at all", {ReadStatus::BadHeader}, {}},
      {"Content-Length: -1\r\n\r\n", {ReadStatus::BadHeader}, {}},
      {"bad\r\nContent-Length: 2\r\n\r\n{}Content-Length: 1\r\n\r\n2",
       {ReadStatus::BadHeader, ReadStatus::Message},
       {"2"}},
      {big + "\r\n\r\nContent-Length: 1\r\n\r\n3",
       {ReadStatus::BadHeader, ReadStatus::Message},
       {"3"}},
      {"Content-Length: 67108865\r\n\r\nabc", {ReadStatus::TooLarge}, {}},
      {"Content-Length: 18446744073709551616\r\n\r\n", {ReadStatus::TooLarge}, {}},
      {"Content-Length: 10\r\n\r\nabc", {}, {}},  // cut short
      {"Content-Length: 5", {}, {}},
      // A body that ends with a CR, then an empty header: the CR is not the header's.
      {"Content-Length: 1\r\n\r\n\r\n\r\nContent-Length: 1\r\n\r\n4",
       {ReadStatus::Message, ReadStatus::BadHeader, ReadStatus::Message},
       {"\r", "4"}},
  };
  for (const std::size_t step : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
    for (const FramingRow& row : rows) {
      StringSource source(row.input, step);
      MessageReader reader(source);
      std::string body;
      std::vector<std::string> bodies;
      for (const ReadStatus expected : row.statuses) {
        EXPECT_EQ(reader.next(body).status, expected) << row.input.substr(0, 40);
        if (expected == ReadStatus::Message) bodies.push_back(body);
      }
      EXPECT_EQ(reader.next(body).status, ReadStatus::End) << row.input.substr(0, 40);
      EXPECT_EQ(bodies, row.bodies);
    }
  }
}

TEST(Document, AppliesIncrementalChanges) {
  struct Row {
    Position start, end;
    std::string text;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {{0, 1}, {0, 1}, "X", "aXb\ncd\n"},     {{0, 1}, {1, 1}, "", "ad\n"},
      {{1, 0}, {1, 99}, "new", "ab\nnew\n"},  {{2, 0}, {2, 0}, "ef", "ab\ncd\nef"},
      {{9, 0}, {9, 9}, "!", "ab\ncd\n!"},  // past the end: at the end
      {{0, 0}, {2, 0}, "1\n2\n3", "1\n2\n3"},
  };
  for (const Row& row : rows) {
    Document doc("ab\ncd\n");
    doc.take_change();
    EXPECT_TRUE(doc.replace(row.start, row.end, row.text, Encoding::Utf16));
    EXPECT_EQ(doc.text(), row.expected);
    // What the change left alone, at each end.
    const TextChange change = doc.take_change();
    const std::string old = "ab\ncd\n";
    ASSERT_LE(change.prefix + change.suffix, std::min(old.size(), row.expected.size()));
    EXPECT_EQ(old.substr(0, change.prefix), row.expected.substr(0, change.prefix));
    EXPECT_EQ(old.substr(old.size() - change.suffix),
              row.expected.substr(row.expected.size() - change.suffix));
    EXPECT_EQ(doc.index().line_text(doc.index().line_count() - 1),
              std::string_view(row.expected).substr(row.expected.rfind('\n') + 1));
  }
  Document doc("ab");
  EXPECT_FALSE(doc.replace({0, 2}, {0, 1}, "", Encoding::Utf8));
  EXPECT_FALSE(doc.replace({0, -1}, {0, 1}, "", Encoding::Utf8));
  EXPECT_EQ(doc.text(), "ab");
}

// A client in memory: sends messages to a server and reads what it writes.
class Session {
 public:
  // A client that counts in UTF-8 and shows related information, unless told otherwise.
  explicit Session(Json init = {{"capabilities",
                                 {{"general", {{"positionEncodings", {"utf-8"}}}},
                                  {"textDocument",
                                   {{"publishDiagnostics", {{"relatedInformation", true}}}}}}}}) {
    request("initialize", std::move(init));
  }
  Json request(const std::string& method, Json params) {
    server_.handle(
        Json{{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", params}}.dump());
    return last();
  }
  void notify(const std::string& method, Json params) {
    server_.handle(Json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}}.dump());
  }
  void open(const std::string& text) {
    notify("textDocument/didOpen",
           {{"textDocument",
             {{"uri", kUri}, {"languageId", "vorpex"}, {"version", 1}, {"text", text}}}});
  }
  // Every message written so far, in order; read once.
  std::vector<Json> messages() {
    StringSource source(std::move(sink_.text), 1 << 20);
    sink_.text.clear();
    MessageReader reader(source);
    std::vector<Json> out;
    std::string body;
    while (reader.next(body).status == ReadStatus::Message)
      out.push_back(Json::parse(body));
    return out;
  }
  Json last() {
    const std::vector<Json> all = messages();
    return all.empty() ? Json() : all.back();
  }
  // The diagnostics of the last publication.
  Json diagnostics() { return last().at("params").at("diagnostics"); }
  Server& server() { return server_; }

  static constexpr const char* kUri = "file:///t.bas";

 private:
  testing::StringSink sink_;
  Server server_{sink_};
  int id_ = 0;
};

Json at(int line, int character) {
  return {{"textDocument", {{"uri", Session::kUri}}},
          {"position", {{"line", line}, {"character", character}}}};
}

TEST(Server, QuickFixesRemoveTheirWarningAndBringNone) {
  struct Row {
    std::string text;
    std::string code;
    std::string fixed;  // empty: no fix is offered
  };
  const std::vector<Row> rows = {
      {"10 PRINT\"Hi\"\n", "quote-in-word", "10 PRINT \"Hi\"\n"},
      // Its note, and a stop that the quote caused, go with it.
      {"10 PRINT\"   \";\n", "quote-in-word", "10 PRINT \"   \";\n"},
      {"10 PRINT\"x ?\"\n20 END\n", "quote-in-word", "10 PRINT \"x ?\"\n20 END\n"},
      {"10 PRINT X REM note\n20 END\n", "rem-joins-next-line", "10 PRINT X\nREM note\n20 END\n"},
      {"10 PRINT X\t DEFINE A = 1\r\n20 END\r\n", "define-joins-next-line",
       "10 PRINT X\r\nDEFINE A = 1\r\n20 END\r\n"},
      {"10 PRINT \"abc  \n", "unclosed-string", "10 PRINT \"abc  \"\n"},
      {"10 PRINT 1\n5\n20 END\n", "number-joined", "10 PRINT 1\n20 END\n"},
      {"10 PRINT 1\n5 ' note\n20 END\n", "number-joined", "10 PRINT 1\n' note\n20 END\n"},
      {"10 X=A ' note\r\n20 END\r\n", "number-joined", "10 X=A\r\n' note\r\n20 END\r\n"},
      // The quote's comment joined the next line: the blank before the quote, on its own line,
      // and never the comment moved, which would cut the string in two.
      {"10 PRINT\"IT'S FINE\"\n20 END\n", "quote-in-word", "10 PRINT \"IT'S FINE\"\n20 END\n"},
      {"10 PRINT\"IT'S FINE\"\n20 END\n", "number-joined", ""},
      // One number to the converter: a blank after its digits, never the line removed.
      {"10 PRINT 1\n120PRINT\n130 END\n", "number-joined", "10 PRINT 1\n120 PRINT\n130 END\n"},
      // Not offered: the fix brings a warning of its own, or leaves a jump without its line.
      {"10 X=A\"B\"C\"\n", "quote-in-word", ""},
      {"10 GOTO 5\n5\n20 END\n", "number-joined", ""},
      {"10 GOSUB 5\n5 REM sub\n20 END\n", "number-joined", ""},
  };
  for (const Row& row : rows) {
    Session s;
    s.open(row.text);
    const Json before = s.diagnostics();
    const Json actions = s.request(
        "textDocument/codeAction",
        {{"textDocument", {{"uri", Session::kUri}}},
         {"range",
          {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 9}, {"character", 0}}}}},
         {"context", {{"diagnostics", before}}}})["result"];
    Json fix;
    for (const Json& action : actions) {
      if (action.contains("diagnostics") && action["diagnostics"][0]["code"] == row.code)
        fix = action;
    }
    if (row.fixed.empty()) {
      EXPECT_TRUE(fix.is_null()) << row.text;
      continue;
    }
    ASSERT_FALSE(fix.is_null()) << row.text << before;
    const Json edit = fix["edit"]["changes"][Session::kUri][0];
    s.notify("textDocument/didChange",
             {{"textDocument", {{"uri", Session::kUri}, {"version", 2}}},
              {"contentChanges", {{{"range", edit["range"]}, {"text", edit["newText"]}}}}});
    EXPECT_EQ(s.diagnostics(), Json::array()) << row.text;
    EXPECT_EQ(s.server().document(Session::kUri)->document.text(), row.fixed);
  }
}

TEST(Server, ReportsEveryProblemWithItsPlace) {
  Session s;
  s.open("DEFINE A = 1\nDEFINE a = 2\n10 GOTO 30\n20 PRINT\"X\n");
  const Json diagnostics = s.diagnostics();
  std::vector<std::string> codes;
  for (const Json& d : diagnostics)
    codes.push_back(d["code"]);
  EXPECT_EQ(codes,
            (std::vector<std::string>{"already-defined", "quote-in-word", "missing-line-target"}));
  EXPECT_EQ(diagnostics[0]["range"]["start"], (Json{{"line", 1}, {"character", 7}}));
  EXPECT_EQ(diagnostics[0]["severity"], 1);
  EXPECT_EQ(diagnostics[2]["range"]["end"], (Json{{"line", 2}, {"character", 10}}));
  // A note goes with the diagnostic before it.
  Session notes;
  notes.open("10 PRINT\"x ?\"\n");
  const Json stop = notes.diagnostics()[1];
  EXPECT_EQ(stop["code"], "unknown-character");
  // The character a blank, the closing quote opens a string: that note follows too.
  ASSERT_EQ(stop["relatedInformation"].size(), 2u);
  EXPECT_EQ(stop["relatedInformation"][0]["location"]["range"]["start"]["character"], 8);
  EXPECT_NE(stop["relatedInformation"][0]["message"].get<std::string>().find("went into the word"),
            std::string::npos);
  EXPECT_EQ(stop["relatedInformation"][1]["location"]["range"]["start"]["character"], 12);
  // Lines as the client counts them, and a character of several bytes as one, never split.
  const std::vector<std::pair<std::string, Json>> places = {
      {"10 PRINT A\r20 PRINT \x01\r",
       {{"start", {{"line", 1}, {"character", 9}}}, {"end", {{"line", 1}, {"character", 10}}}}},
      {"10 PRINT \xE2\x82\xAC\n",
       {{"start", {{"line", 0}, {"character", 9}}}, {"end", {{"line", 0}, {"character", 12}}}}},
  };
  for (const auto& [text, range] : places) {
    Session one;
    one.open(text);
    const Json found = one.diagnostics();
    // A lone CR ends a line for the client, not for the converter, which says so last.
    const bool lone_cr = text.find('\r') != std::string::npos;
    ASSERT_EQ(found.size(), lone_cr ? 2u : 1u) << found;
    EXPECT_EQ(found[0]["range"], range) << text;
    if (lone_cr) {
      EXPECT_EQ(found[1]["code"], "cr-joins-lines");
      EXPECT_EQ(found[1]["range"]["start"], Json({{"line", 1}, {"character", 0}}));
    }
  }
  // With warnings off, only the error, and an error keeps its note.
  s.notify("workspace/didChangeConfiguration", {{"settings", {{"warnings", false}}}});
  EXPECT_EQ(s.diagnostics().size(), 1u);
  notes.notify("workspace/didChangeConfiguration", {{"settings", {{"warnings", false}}}});
  const Json alone = notes.diagnostics();
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(alone[0]["relatedInformation"].size(), 2u);
}

// The diagnostics are written as text straight away; the bytes must be those of the tree's dump,
// whatever the document, the address and the settings hold.
TEST(Server, WritesDiagnosticsAsTheTreeWould) {
  const auto tree_text = [](const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
  };
  const std::vector<std::string> strings = {"",
                                            "plain",
                                            "\"quoted\\\" \\\\",
                                            std::string("\x01\x1f\x7f\b\f\n\r\t\0z", 11),
                                            "é ü 中 😀",
                                            "\xff",
                                            "ab\xc3",
                                            "\xe2\x82 x",
                                            "\xc0\xaf",
                                            "\xed\xa0\x80",
                                            "ok é\xf0\x9f\x98"};
  for (const std::string& text : strings) {
    std::string out = "[";
    append_json_string(out, text);
    EXPECT_EQ(out, "[" + tree_text(text)) << text;
  }
  std::string number;
  append_json_integer(number, -9223372036854775807 - 1);
  EXPECT_EQ(number, "-9223372036854775808");

  const std::string document =
      "DEFINE A = 1\nDEFINE a = 2\n10 PRINT\"x ?\"\n20 A\xff\"B\x01\n30 PRINT\"\xc3\xa9\\\" "
      "?\n40 GOTO 99\n50 PRINT 1 REM \xe2\x82\n60 PRINT\"\xf0\x9f\x98\x80\" ?\n70 A\rB\n";
  for (const bool warnings : {true, false}) {
    for (const int client : {0, 1, 2, 3}) {
      const bool utf8 = (client & 1) != 0;
      const bool related = (client & 2) != 0;
      Json init = {{"capabilities", Json::object()},
                   {"initializationOptions", {{"warnings", warnings}}}};
      if (utf8) init["capabilities"]["general"]["positionEncodings"] = {"utf-8"};
      init["capabilities"]["textDocument"]["publishDiagnostics"]["relatedInformation"] = related;
      Session s(init);
      OpenDocument open;
      open.document.set_text(document);
      open.version = 7;
      SessionOptions options;
      options.warnings = warnings;
      open.analysis = IncrementalAnalysis(options);
      open.analysis.reset(document);
      open.missing = open.analysis.missing_targets();
      open.cr_joins = cr_joins_warning(document);
      for (const std::string uri : {"file:///t.bas", "file:///a \"b\"\\c\x01\xc3\xa9\xff.bas"}) {
        const std::string text = s.server().publish_text(uri, open);
        const Json tree = {{"jsonrpc", "2.0"},
                           {"method", "textDocument/publishDiagnostics"},
                           {"params",
                            {{"uri", uri},
                             {"version", open.version},
                             {"diagnostics", s.server().diagnostics(uri, open)}}}};
        EXPECT_EQ(text, tree_text(tree)) << warnings << utf8 << related;
        // A client that shows no related information reads the notes in the message.
        EXPECT_EQ(text.find("relatedInformation") != std::string::npos, related);
        EXPECT_EQ(text.find("\\n\\nnote at line 3: this double quote went into the word") !=
                      std::string::npos,
                  !related);
        EXPECT_EQ(Json::parse(text), Json::parse(tree_text(tree)));
        EXPECT_GE(tree["params"]["diagnostics"].size(), warnings ? 5u : 3u);
      }
    }
  }
}

TEST(Server, SettingsDefineNames) {
  Session s;
  s.notify("workspace/didChangeConfiguration",
           {{"settings", {{"vorpex", {{"defines", {{"Top", 50}, {"Bad name", "1"}}}}}}}});
  // A name that is refused is shown to the user, in the command line's words, and left out.
  std::vector<std::string> shown;
  for (const Json& m : s.messages()) {
    if (m.value("method", "") == "window/showMessage") shown.push_back(m["params"]["message"]);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"vorpex: vorpex.defines: cannot define 'Bad name=1': "
                                             "the name must be one word; left out"}));
  s.open("10 PRINT TOP\n");
  const Json hover = s.request("textDocument/hover", at(0, 10))["result"];
  EXPECT_NE(hover["contents"]["value"].get<std::string>().find("**TOP** = `50`"),
            std::string::npos);
  EXPECT_EQ(s.request("textDocument/definition", at(0, 10))["result"], nullptr);
  Json rename = at(0, 10);
  rename["newName"] = "X";
  EXPECT_EQ(s.request("textDocument/rename", rename)["error"]["code"], error_code::kRequestFailed);
}

TEST(Server, CompletesLineNumbersWhereAJumpNamesOne) {
  const std::vector<std::pair<std::string, bool>> rows = {
      {"30 GOTO ", true},          {"30 gosub 1", true},          {"30 IF A THEN ", true},
      {"30 GO TO ", true},         {"30 GO  SUB", true},          {"30 go sub ", true},
      {"30 ON X GOTO 10, ", true}, {"30 ON X GOTO 10,20,", true}, {"30 PRINT ", false},
      {"30 ALGO TO ", false},      {"30 X = 10, ", false},        {"30 RESTORE ", true},
      {"30 PRINT \"GOTO ", false}, {"30 REM GOTO ", false},
  };
  for (const auto& [line, numbers] : rows) {
    Session s;
    s.open("10 A\n20 B\n" + line + "\n");
    const Json items = s.request(
        "textDocument/completion",
        {{"textDocument", {{"uri", Session::kUri}}},
         {"position", {{"line", 2}, {"character", static_cast<int>(line.size())}}}})["result"];
    const bool offered = !items.empty() && items[0]["kind"] == 18;
    EXPECT_EQ(offered, numbers) << line;
    if (numbers) {
      EXPECT_EQ(items[0]["label"], "10") << line;
      EXPECT_EQ(items[0]["detail"], "10 A") << line;
    }
  }
}

// A jump to a missing line is offered the nearest line numbers below and above it.
TEST(Server, OffersTheNearestLinesForAMissingTarget) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
      // Never the jump's own line, 30.
      {"30 GOTO 25\n", {"20"}},        {"30 GOTO 5\n", {"10"}},
      {"30 GOTO 99\n", {"20"}},        {"30 GOTO 100\n", {"20"}},
      {"30 GOTO 011\n", {"10", "20"}}, {"30 GOTO 25\n40 B\n", {"20", "40"}},
  };
  for (const auto& [line, offered] : rows) {
    Session s;
    s.open("10 A\n20 B\n" + line);
    const Json actions = s.request(
        "textDocument/codeAction",
        {{"textDocument", {{"uri", Session::kUri}}},
         {"range",
          {{"start", {{"line", 2}, {"character", 0}}}, {"end", {{"line", 2}, {"character", 0}}}}},
         {"context", {{"diagnostics", Json::array()}}}})["result"];
    std::vector<std::string> got;
    for (const Json& a : actions)
      got.push_back(a["edit"]["changes"][Session::kUri][0]["newText"]);
    EXPECT_EQ(got, offered) << line;
  }
}

// A delta of semantic tokens applied to those sent before.
void apply_delta(std::vector<std::int64_t>& data, const Json& delta) {
  for (const Json& edit : delta["edits"]) {
    const auto start = data.begin() + edit["start"].get<std::ptrdiff_t>();
    data.erase(start, start + edit["deleteCount"].get<std::ptrdiff_t>());
    const std::vector<std::int64_t> inserted = edit["data"];
    data.insert(data.begin() + edit["start"].get<std::ptrdiff_t>(), inserted.begin(),
                inserted.end());
  }
}

Json full_tokens(Session& s) {
  return s.request("textDocument/semanticTokens/full",
                   {{"textDocument", {{"uri", Session::kUri}}}})["result"];
}

// A delta applied to the tokens sent before gives the tokens of the new text, whatever the edit.
TEST(Server, SemanticTokenDeltasRebuildTheFullTokens) {
  const std::vector<std::string> texts = {"10 PRINT X\n20 GOTO 10\n",
                                          "10 PRINT X\n15 Y=1\n20 GOTO 10\n",
                                          "10 PRINT\n",
                                          "",
                                          "DEFINE A = 1\n10 PRINT A\n20 GOTO 10\n",
                                          "DEFINE A = 1\n10 PRINT A\n20 GOTO 10\n"};
  Session s;
  s.open(texts[0]);
  const Json document = {{"uri", Session::kUri}};
  Json full = full_tokens(s);
  std::vector<std::int64_t> data = full["data"];
  std::string id = full["resultId"];
  for (std::size_t i = 1; i < texts.size(); ++i) {
    s.notify("textDocument/didChange",
             {{"textDocument", {{"uri", Session::kUri}, {"version", i + 1}}},
              {"contentChanges", {{{"text", texts[i]}}}}});
    const Json delta = s.request("textDocument/semanticTokens/full/delta",
                                 {{"textDocument", document}, {"previousResultId", id}})["result"];
    apply_delta(data, delta);
    id = delta["resultId"];
    Session fresh;
    fresh.open(texts[i]);
    EXPECT_EQ(Json(data), full_tokens(fresh)["data"]) << texts[i];
  }
}

// A burst of changes is analysed once: the last one's diagnostics are published, once, when the
// burst ends or before anything else is answered.
TEST(Server, CoalescesABurstOfChanges) {
  for (const bool other_message_ends_it : {false, true}) {
    Session s;
    s.server().set_coalescing(true);
    s.open("10 PRINT\n");
    s.messages();
    for (int version = 2; version <= 101; ++version) {
      s.notify("textDocument/didChange",
               {{"textDocument", {{"uri", Session::kUri}, {"version", version}}},
                {"contentChanges", {{{"text", "10 PRINT " + std::to_string(version) + " :\n"}}}}});
    }
    EXPECT_TRUE(s.messages().empty());
    if (other_message_ends_it) {
      s.notify("$/cancelRequest", {{"id", 1}});
    } else {
      s.server().settle();
    }
    std::vector<Json> published;
    for (const Json& m : s.messages()) {
      if (m.value("method", "") == "textDocument/publishDiagnostics") published.push_back(m);
    }
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0]["params"]["version"], 101);
    EXPECT_EQ(published[0]["params"]["diagnostics"][0]["range"]["start"]["character"], 13);
  }
}

// Each change is analysed from the analysis kept: the diagnostics must be those of the text
// opened afresh, whether the change comes as a range, in a burst or as the whole text.
TEST(Server, ChangesGiveTheDiagnosticsOfTheTextAfresh) {
  std::string text;
  for (int i = 1; i <= 400; ++i) {
    text += std::to_string(10 * i) + (i % 3 == 0 ? " PRINT\"A\" REM x\n" : " GOTO 20\n");
    if (i % 50 == 0) text += "DEFINE D" + std::to_string(i) + "\n";
  }
  struct Change {
    int line, from, to;  // -1: the whole text
    std::string text;
  };
  const std::vector<std::vector<Change>> bursts = {
      {{200, 0, 0, " "}},
      {{200, 0, 1, ""}, {100, 3, 7, "GOTO"}, {300, 0, 0, "10\n"}},
      {{-1, 0, 0, "10 X\n"}},  // with the text below appended
      {{150, 0, 0, "DEFINE D50 = 3\n"}},
      {{5, 0, 0, ": "}, {5, 0, 2, ""}},
  };
  Session s;
  s.server().set_coalescing(true);
  s.open(text);
  Document mirror(text);
  int version = 1;
  // The semantic tokens too, kept across the changes, as deltas or in full, or after two bursts.
  Json tokens = full_tokens(s);
  std::vector<std::int64_t> data = tokens["data"];
  std::string id = tokens["resultId"];
  int burst_count = 0;
  for (const std::vector<Change>& burst : bursts) {
    for (const Change& change : burst) {
      Json item = {{"text", change.line < 0 ? change.text + mirror.text() : change.text}};
      if (change.line >= 0) {
        item["range"] = {{"start", {{"line", change.line}, {"character", change.from}}},
                         {"end", {{"line", change.line}, {"character", change.to}}}};
        mirror.replace({change.line, change.from}, {change.line, change.to}, change.text,
                       Encoding::Utf8);
      } else {
        mirror.set_text(item["text"]);
      }
      s.notify("textDocument/didChange",
               {{"textDocument", {{"uri", Session::kUri}, {"version", ++version}}},
                {"contentChanges", {item}}});
    }
    s.server().settle();
    Session fresh;
    fresh.open(mirror.text());
    EXPECT_EQ(s.diagnostics(), fresh.diagnostics()) << "after change " << version;
    if (++burst_count % 3 == 1) continue;
    if (burst_count % 3 == 0) {
      const Json delta = s.request(
          "textDocument/semanticTokens/full/delta",
          {{"textDocument", {{"uri", Session::kUri}}}, {"previousResultId", id}})["result"];
      apply_delta(data, delta);
      id = delta["resultId"];
    } else {
      tokens = full_tokens(s);
      data = tokens["data"].get<std::vector<std::int64_t>>();
      id = tokens["resultId"];
    }
    EXPECT_EQ(Json(data), full_tokens(fresh)["data"]) << "after change " << version;
  }
}

TEST(Server, EndsWithTheStatusOfItsLifecycle) {
  for (const bool shutdown : {false, true}) {
    Session s;
    if (shutdown) {
      EXPECT_EQ(s.request("shutdown", nullptr)["result"], nullptr);
    }
    s.notify("exit", nullptr);
    EXPECT_TRUE(s.server().exited());
    EXPECT_EQ(s.server().exit_status(), shutdown ? 0 : 1);
  }
}

}  // namespace
}  // namespace vorpex::lsp
