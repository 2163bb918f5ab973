// The printer and job queries at their edges: the default an lpoptions
// instance names, names that are no queue, a scheduler gone. What each field
// holds is test/js/api.test.js's, through these calls.
#include "printer/state.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>

#include "cups_env.h"

namespace {

using namespace cupsstate;

class StateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* queue : {"st_idle", "st_out"}) testcups::addQueue(queue);
    ASSERT_EQ(testcups::admin("lpadmin -d st_idle"), 0);
  }
  void SetUp() override { testcups::setLpoptions({}); }

  testcups::Connection http = testcups::connect();
};

// The user's own default (lpoptions, here an instance) wins over the scheduler's.
TEST_F(StateTest, DefaultIsTheOneLpWouldUse) {
  testcups::setLpoptions({"Default st_out/wide"});
  const PrinterList list = listPrinters(http.get());
  ASSERT_TRUE(list.ok);
  std::string defaults;
  for (const PrinterInfo& p : list.printers) defaults += p.isDefault ? p.name + ";" : "";
  EXPECT_EQ(defaults, "st_out;");
  EXPECT_TRUE(getPrinter(http.get(), "st_out").printer.isDefault);
  EXPECT_FALSE(getPrinter(http.get(), "st_idle").printer.isDefault);
}

TEST_F(StateTest, UnknownQueuesAreNotFound) {
  const std::string names[] = {
      "st_missing", "",          std::string("st_idle\0x", 9), "st_idle/x",
      "st_idle?x",  "st_idle x", std::string(200, 'q'),
  };
  for (const std::string& name : names) {
    const PrinterLookup got = getPrinter(http.get(), name);
    EXPECT_EQ(got.outcome, Lookup::NotFound) << name << ": found " << got.printer.name;
    EXPECT_EQ(got.failure.status, IPP_STATUS_ERROR_NOT_FOUND) << name;
  }
}

// A scheduler that took the connection and then went away (its socket gone
// too, so libcups cannot reconnect), and no connection at all: errors, never
// "not found".
TEST(StateWithoutScheduler, EveryCallIsAnError) {
  sockaddr_un addr{};
  addr.sun_family = AF_LOCAL;
  const std::string path = std::string(std::getenv("HOME")) + "/gone.sock";
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  const int listener = socket(AF_LOCAL, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  testcups::Connection gone(
      httpConnect2(path.c_str(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr));
  close(listener);
  unlink(path.c_str());
  ASSERT_NE(gone, nullptr);

  for (http_t* http : {gone.get(), static_cast<http_t*>(nullptr)}) {
    const std::string which = http ? "gone" : "null";
    const PrinterList list = listPrinters(http);
    const PrinterLookup printer = getPrinter(http, "st_idle");
    const JobLookup job = getJob(http, 1);
    const CancelResult cancel = cancelJob(http, 1);
    EXPECT_EQ(std::tuple(list.ok, printer.outcome, job.outcome, cancel.outcome),
              std::tuple(false, Lookup::Error, Lookup::Error, Cancel::Error))
        << which;
    for (const Failure& failure : {list.failure, printer.failure, job.failure, cancel.failure}) {
      EXPECT_NE(failure.status, IPP_STATUS_OK) << which;
      EXPECT_NE(failure.message, "") << which;
    }
  }
}

}  // namespace
