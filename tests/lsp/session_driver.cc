// Runs a scripted session's two halves around the server:
//   lsp_session frame SESSION INPUT        writes the messages of SESSION, framed, to INPUT
//   lsp_session check SESSION OUTPUT STATUS compares what the server wrote, and its status
// A session is a JSON object: "send", the messages in order (an object is framed as it is; a
// string is written raw, for broken headers), "expect", the messages the server writes, in order
// (each compared as a pattern: an object's listed members, an array's every element, the string
// "<any>" for any value), and "status", the server's exit status.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "lsp/framing.h"

namespace {

using Json = nlohmann::json;

std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class StringSource : public vorpex::lsp::ByteSource {
 public:
  explicit StringSource(std::string text) : text_(std::move(text)) {}
  std::size_t read(std::span<char> buffer) override {
    const std::size_t n = std::min(buffer.size(), text_.size() - at_);
    text_.copy(buffer.data(), n, at_);
    at_ += n;
    return n;
  }

 private:
  std::string text_;
  std::size_t at_ = 0;
};

// Where `actual` differs from `pattern`, or empty.
std::string difference(const Json& pattern, const Json& actual, const std::string& path) {
  if (pattern.is_string() && pattern.get_ref<const std::string&>() == "<any>") return {};
  if (pattern.is_object()) {
    if (!actual.is_object()) return path + ": not an object";
    for (const auto& [key, value] : pattern.items()) {
      if (!actual.contains(key)) return path + "." + key + ": missing";
      if (std::string m = difference(value, actual.at(key), path + "." + key); !m.empty()) return m;
    }
    return {};
  }
  if (pattern.is_array()) {
    if (!actual.is_array() || actual.size() != pattern.size())
      return path + ": not an array of " + std::to_string(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      const std::string m = difference(pattern[i], actual[i], path + "[" + std::to_string(i) + "]");
      if (!m.empty()) return m;
    }
    return {};
  }
  return pattern == actual ? std::string()
                           : path + ": " + actual.dump() + " is not " + pattern.dump();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: lsp_session frame SESSION INPUT | check SESSION OUTPUT STATUS\n";
    return 2;
  }
  const std::string mode = argv[1];
  const Json session = Json::parse(read_file(argv[2]));
  if (mode == "frame") {
    std::ofstream out(argv[3], std::ios::binary);
    for (const Json& message : session.at("send")) {
      if (message.is_string()) {
        out << message.get<std::string>();
      } else if (message.contains("latin1")) {
        // A content of bytes: each character from U+0000 to U+00FF stands for one byte.
        std::string body;
        const std::string text = message.at("latin1").get<std::string>();
        for (std::size_t i = 0; i < text.size(); ++i) {
          const auto c = static_cast<unsigned char>(text[i]);
          if (c >= 0xC2 && c <= 0xC3 && i + 1 < text.size()) {
            body.push_back(static_cast<char>(((c & 3) << 6) | (text[++i] & 0x3F)));
          } else {
            body.push_back(text[i]);
          }
        }
        out << "Content-Length: " << body.size() << "\r\n\r\n" << body;
      } else {
        const std::string body = message.dump();
        out << "Content-Length: " << body.size() << "\r\n\r\n" << body;
      }
    }
    return out ? 0 : 1;
  }
  if (mode != "check" || argc < 5) return 2;
  StringSource source(read_file(argv[3]));
  vorpex::lsp::MessageReader reader(source);
  const Json& expect = session.at("expect");
  std::string body;
  std::size_t index = 0;
  int failures = 0;
  for (; reader.next(body).status == vorpex::lsp::ReadStatus::Message; ++index) {
    const Json actual = Json::parse(body, nullptr, false);
    if (index >= expect.size()) {
      std::cerr << "message " << index << " not expected: " << body << "\n";
      ++failures;
      continue;
    }
    if (const std::string m = difference(expect[index], actual, "$"); !m.empty()) {
      std::cerr << "message " << index << ": " << m << "\n  got: " << body << "\n";
      ++failures;
    }
  }
  if (index < expect.size()) {
    std::cerr << "only " << index << " of " << expect.size() << " messages came\n";
    ++failures;
  }
  const int status = std::stoi(argv[4]);
  if (status != session.at("status").get<int>()) {
    std::cerr << "exit status " << status << ", expected " << session.at("status") << "\n";
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}
