#include "platform/console.h"

#include <gtest/gtest.h>

#include "platform/error_number.h"
#include "tests/support/memory_io.h"

namespace vorpex::platform {
namespace {

TEST(ConsoleTest, PrecedesEveryLineFeedWithACarriageReturn) {
  const std::pair<std::string, std::string> cases[] = {
      {"input file: a\n", "input file: a\r\n"},
      {"\r\nUNBALANCED QUOTE!\r\n", "\r\r\nUNBALANCED QUOTE!\r\r\n"},
      {"\n\n", "\r\n\r\n"},
      {"no end", "no end"},
  };
  for (const auto& [text, shown] : cases) {
    testing::StringSink out;
    {
      Console console(out);
      console.write(text);
      EXPECT_EQ(out.text, "");  // held until flushed
    }
    EXPECT_EQ(out.text, shown);
  }
}

TEST(ConsoleTest, ReportsAFailedSink) {
  testing::StringSink out;
  out.refuse = true;
  Console console(out);
  console.write("x\n");
  EXPECT_FALSE(console.flush());
}

TEST(ErrorNumberTest, MapsOpenFailures) {
  const std::pair<int, int> cases[] = {
      {ENOENT, 2}, {ENOTDIR, 2}, {ENAMETOOLONG, 2}, {EACCES, 5},      {EPERM, 5},
      {EISDIR, 5}, {EROFS, 5},   {ETXTBSY, 5},      {EMFILE, EMFILE}, {ELOOP, ELOOP},
  };
  for (const auto& [error, shown] : cases)
    EXPECT_EQ(open_error_number(error), shown) << error;
}

}  // namespace
}  // namespace vorpex::platform
