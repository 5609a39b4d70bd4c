// The quoting rule the loader's trace and the simulator's log share.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "protocol/text.h"

namespace vx {
namespace {

struct QuoteCase {
  const char* edge;
  std::string text;
  std::optional<std::string> shown;
};

TEST(Quoted, EscapesOrNotText) {
  const QuoteCase cases[] = {
      {"empty", "", "\"\""},
      {"a request with its line feed", "I000000\n", "\"I000000\\n\""},
      {"CR and tab", "a\r\tb", "\"a\\r\\tb\""},
      {"quote and backslash", "\"\\", "\"\\\"\\\\\""},
      {"first and last printable", " ~", "\" ~\""},
      {"a byte below blank", "A\x1F", std::nullopt},
      {"DEL", "A\x7F", std::nullopt},
      {"a byte from 0x80", "A\x80", std::nullopt},
      {"0xFF", "\xFF", std::nullopt},
      {"a zero byte", std::string("A\0B", 3), std::nullopt},
      {"a block payload", std::string("s\x45\x23\x01\x03", 5), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(quoted_text(c.text), c.shown) << c.edge;
}

}  // namespace
}  // namespace vx
