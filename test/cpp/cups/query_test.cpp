// The connection check against the private scheduler: every printer state it
// can be told, and the log of each answer. This is the one home of that log.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "cups_env.h"
#include "outcome.h"
#include "printer/query.h"

namespace {

TEST(Query, AnswersFromTheDestinationList) {
  for (const char* queue : {"query_idle", "query_busy", "query_stopped", "query_odd"}) {
    testcups::addQueue(queue);
  }
  ASSERT_EQ(testcups::admin("cupsdisable query_stopped"), 0);
  // query_busy stays processing while the backend holds its job.
  const std::string hold = testcups::captureDir() + "/query_busy.hold";
  std::ofstream(hold) << "until the checks are done\n";
  ASSERT_EQ(testcups::admin("echo held | lp -d query_busy >/dev/null"), 0);
  ASSERT_NE(testcups::waitForCapture("query_busy-*.held"), "");
  // lpoptions overrides what the scheduler says; only the first instance is looked at.
  testcups::setLpoptions(
      {"Dest query_odd printer-state=busy", "Dest query_idle/second printer-state=5"});

  const std::string found = "[DEBUG] macOS平台: 找到匹配的打印机\n",
                    state = "[DEBUG] macOS平台: 使用cupsGetOption获取到打印机状态 = ",
                    fallback = "[DEBUG] macOS平台: 无法获取打印机状态，默认设为已连接\n",
                    connected = "[DEBUG] 最终连接状态: isConnected = true\n",
                    missing =
                        "[DEBUG] macOS平台: 未找到匹配的打印机\n"
                        "[DEBUG] 最终连接状态: isConnected = false\n";
  const struct {
    const char* name;
    const char* server;  // null: the private scheduler
    std::string log;
  } cases[] = {
      {"query_idle", nullptr, found + state + "3\n" + connected},
      {"query_busy", nullptr, found + state + "4\n" + connected},
      {"query_stopped", nullptr, found + state + "5\n" + fallback + connected},
      {"query_odd", nullptr, found + state + "0\n" + fallback + connected},  // not a number
      {"Query_Idle", nullptr, missing},
      {"no_such_queue", nullptr, missing},
      {"query_idle", "/nonexistent/cups.sock", missing},
  };
  for (const auto& c : cases) {
    cupsSetServer(c.server);
    bool answer = c.log == missing;
    EXPECT_EQ(logOf([&] { answer = printerIsConnected(c.name); }), c.log) << c.name;
    EXPECT_EQ(answer, c.log != missing) << c.name;
  }
  cupsSetServer(nullptr);

  unlink(hold.c_str());
  EXPECT_EQ(testcups::waitForJob("query_busy"), std::vector<uint8_t>({'h', 'e', 'l', 'd', '\n'}));
  testcups::setLpoptions({});
}

}  // namespace
