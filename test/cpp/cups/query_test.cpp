// The connection check against the private scheduler.
#include <gtest/gtest.h>

#include "cups_env.h"
#include "outcome.h"
#include "printer/query.h"

namespace {

TEST(Query, AnswersFromTheDestinationList) {
  testcups::addQueue("query_idle");
  testcups::addQueue("query_stopped");
  ASSERT_EQ(testcups::admin("cupsdisable query_stopped"), 0);
  const std::string found = "[DEBUG] macOS平台: 找到匹配的打印机\n",
                    state = "[DEBUG] macOS平台: 使用cupsGetOption获取到打印机状态 = ",
                    connected = "[DEBUG] 最终连接状态: isConnected = true\n",
                    missing =
                        "[DEBUG] macOS平台: 未找到匹配的打印机\n"
                        "[DEBUG] 最终连接状态: isConnected = false\n";
  const struct {
    const char* name;
    bool expected;
    std::string log;
  } cases[] = {
      {"query_idle", true, found + state + "3\n" + connected},
      {"query_stopped", true,
       found + state + "5\n" + "[DEBUG] macOS平台: 无法获取打印机状态，默认设为已连接\n" +
           connected},
      {"Query_Idle", false, missing},
      {"no_such_queue", false, missing},
  };
  for (const auto& c : cases) {
    bool answer = !c.expected;
    EXPECT_EQ(logOf([&] { answer = printerIsConnected(c.name); }), c.log) << c.name;
    EXPECT_EQ(answer, c.expected) << c.name;
  }
}

}  // namespace
