// The connection check against the private scheduler.
#include <gtest/gtest.h>

#include "cups_env.h"
#include "printer/query.h"

namespace {

struct QueryCase {
  const char* name;
  bool expected;
  const char* log;
};

class QueryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testcups::addQueue("query_idle");
    testcups::addQueue("query_stopped");
    ASSERT_EQ(testcups::admin({"cupsdisable", "query_stopped"}), 0);
  }
};

TEST_F(QueryTest, AnswersFromTheDestinationList) {
  const QueryCase cases[] = {
      {"query_idle", true,
       "[DEBUG] macOS平台: 找到匹配的打印机\n"
       "[DEBUG] macOS平台: 使用cupsGetOption获取到打印机状态 = 3\n"
       "[DEBUG] 最终连接状态: isConnected = true\n"},
      {"query_stopped", true,
       "[DEBUG] macOS平台: 找到匹配的打印机\n"
       "[DEBUG] macOS平台: 使用cupsGetOption获取到打印机状态 = 5\n"
       "[DEBUG] macOS平台: 无法获取打印机状态，默认设为已连接\n"
       "[DEBUG] 最终连接状态: isConnected = true\n"},
      {"Query_Idle", false,
       "[DEBUG] macOS平台: 未找到匹配的打印机\n"
       "[DEBUG] 最终连接状态: isConnected = false\n"},
      {"no_such_queue", false,
       "[DEBUG] macOS平台: 未找到匹配的打印机\n"
       "[DEBUG] 最终连接状态: isConnected = false\n"},
  };
  for (const auto& c : cases) {
    bool answer = !c.expected;
    std::string log = testcups::captureStdout([&] { answer = printerIsConnected(c.name); });
    EXPECT_EQ(answer, c.expected) << c.name;
    EXPECT_EQ(log, c.log) << c.name;
  }
}

}  // namespace
