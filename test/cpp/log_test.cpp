// tracelog::line formats into the thread's sink whole, on both sides of the
// 256-byte buffer it formats short lines in.
#include "helper/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Lines final : public tracelog::Sink {
 public:
  void write(const char* text, size_t size) noexcept override { lines.emplace_back(text, size); }
  std::vector<std::string> lines;
};

// Lines of 7 to 4103 bytes, 254 to 257 among them, inside a redirect nested
// in another; after it, the outer sink again.
TEST(Log, FormatsWholeLinesIntoTheSinkAndPutsBackTheOneItReplaced) {
  Lines outer, inner;
  tracelog::Redirect a(&outer);
  const std::vector<size_t> lengths = {0, 247, 248, 249, 250, 4096};
  {
    tracelog::Redirect b(&inner);
    for (size_t n : lengths) tracelog::line("[%s] %d%%\n", std::string(n, 'x').c_str(), -7);
  }
  tracelog::line("out\n");
  ASSERT_EQ(inner.lines.size(), lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i) {
    EXPECT_EQ(inner.lines[i], "[" + std::string(lengths[i], 'x') + "] -7%\n") << lengths[i];
  }
  EXPECT_EQ(outer.lines, std::vector<std::string>{"out\n"});
}

}  // namespace
