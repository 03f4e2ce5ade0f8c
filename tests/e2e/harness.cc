#include "harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <stdexcept>
#include <system_error>

#include "harness_internal.h"

namespace vorpex_e2e {

namespace fs = std::filesystem;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

fs::path from_utf8(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

bool diagnostic_line(const std::string& line) {
  static const std::regex kGcc(
      R"(^(.*?):(\d+):(\d*):?\s+(?:fatal\s+)?(warning|error|note):\s+(.*)$)");
  return line.starts_with("vorpex: ") || std::regex_match(line, kGcc);
}

Sandbox::Sandbox() {
  std::random_device random;
  for (int attempt = 0; dir_.empty(); ++attempt) {
    check(attempt < 100, "create a temporary directory");
    fs::path dir = fs::temp_directory_path() / ("vorpex-e2e-" + std::to_string(random()));
    if (fs::create_directory(dir)) dir_ = dir;
  }
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

fs::path Sandbox::path(const std::string& name) const {
  return dir_ / from_utf8(name);
}

void Sandbox::write(const std::string& name, const std::string& bytes) const {
  const fs::path file_path = path(name);
  fs::create_directories(file_path.parent_path());
  std::ofstream file(file_path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(file.good(), "write");
}

std::optional<std::string> Sandbox::read(const std::string& name) const {
  std::ifstream file(path(name), std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool Sandbox::symlink(const std::string& target, const std::string& name) const {
  std::error_code error;
  fs::create_symlink(from_utf8(target), path(name), error);
  return !error;
}

Child::~Child() {
  kill();
  wait();
}

RunResult convert(const std::string& input) {
  Sandbox sandbox;
  sandbox.write("in.bas", input);
  return sandbox.run({"-i", "in.bas", "-o", "out.bas"});
}

void expect_conversion(const Conversion& c) {
  RunResult r = convert(c.input);
  std::string console = kConvertHead;
  for (int i = 0; i < c.quote_warnings; ++i)
    console += "\r\r\nUNBALANCED QUOTE!\r\r\n";
  if (!c.stops) console += kSuccess;
  EXPECT_EQ(r.output, c.output);
  EXPECT_EQ(r.console, console);
  EXPECT_EQ(r.status, c.stops ? 1 : 0);
  expect_well_formed_errors(r.errors);
}

void expect_well_formed_errors(const std::string& errors) {
  std::size_t start = 0;
  while (start < errors.size()) {
    const std::size_t end = errors.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "standard error ends inside a line";
    const std::string line = errors.substr(start, end - start);
    EXPECT_TRUE(diagnostic_line(line)) << line;
    start = end + 1;
  }
}

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i)
    text += piece;
  return text;
}

std::string unknown_error(int line) {
  return "\r\nUNKNOWN ERROR! LINE: " + std::to_string(line) + "\r\n";
}

}  // namespace vorpex_e2e
