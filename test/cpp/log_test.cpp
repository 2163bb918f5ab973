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

TEST(Log, FormatsWholeLinesIntoTheSink) {
  Lines sink;
  tracelog::Redirect to(&sink);
  const std::vector<size_t> lengths = {0, 1, 254, 255, 256, 257, 4096};
  for (size_t n : lengths) tracelog::line("[%s] %d%%\n", std::string(n, 'x').c_str(), -7);
  tracelog::line("plain\n");
  ASSERT_EQ(sink.lines.size(), lengths.size() + 1);
  for (size_t i = 0; i < lengths.size(); ++i) {
    EXPECT_EQ(sink.lines[i], "[" + std::string(lengths[i], 'x') + "] -7%\n") << lengths[i];
  }
  EXPECT_EQ(sink.lines.back(), "plain\n");
}

TEST(Log, RedirectPutsBackTheSinkItReplaced) {
  Lines outer, inner;
  tracelog::Redirect a(&outer);
  {
    tracelog::Redirect b(&inner);
    tracelog::line("in %d\n", 1);
  }
  tracelog::line("out %d\n", 2);
  EXPECT_EQ(inner.lines, std::vector<std::string>{"in 1\n"});
  EXPECT_EQ(outer.lines, std::vector<std::string>{"out 2\n"});
}

}  // namespace
