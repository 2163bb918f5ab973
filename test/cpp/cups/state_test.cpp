// Printer state as the private scheduler reports it; job state is
// test/js/api.test.js's, through the same calls.
#include "printer/state.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "cups_env.h"

namespace {

using namespace cupsstate;

// A driver queue whose PPD sets a default resolution of 300 dpi.
void addPpdQueue(const std::string& name) {
  const std::string ppd = std::string(std::getenv("HOME")) + "/" + name + ".ppd";
  std::ofstream(ppd) << R"(*PPD-Adobe: "4.3"
*cupsFilter: "application/vnd.cups-raw 0 -"
*NickName: "Acme Label 300dpi"
*OpenUI *Resolution: PickOne
*DefaultResolution: 300dpi
*Resolution 300dpi: ""
*CloseUI: *Resolution
)";
  ASSERT_EQ(testcups::admin("lpadmin -p " + name + " -E -v capture:/" + name + " -P " + ppd), 0);
}

std::ostream& operator<<(std::ostream& out, const std::vector<std::string>& words) {
  out << "[";
  for (const auto& word : words) out << word << ";";
  return out << "]";
}

std::string show(const PrinterInfo& p) {
  std::ostringstream out;
  out << p.name << " " << p.state << " " << p.stateReasons << " '" << p.stateMessage
      << "' accepting=" << p.acceptingJobs << " default=" << p.isDefault
      << " dpi=" << p.resolutionDpi.value_or(0) << " " << p.deviceUri << " " << p.makeAndModel;
  return out.str();
}

class StateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* queue : {"st_idle", "st_out", "st_reject"}) testcups::addQueue(queue);
    ASSERT_EQ(testcups::admin("cupsdisable -r 'out of labels' st_out"), 0);
    ASSERT_EQ(testcups::admin("cupsreject st_reject"), 0);
    addPpdQueue("st_300");
    ASSERT_EQ(testcups::admin("lpadmin -d st_idle"), 0);
  }
  void SetUp() override { testcups::setLpoptions({}); }

  testcups::Connection http = testcups::connect();
};

// Each queue as asked alone and as found in the whole list.
TEST_F(StateTest, PrintersAsTheSchedulerKeepsThem) {
  const std::pair<const char*, const char*> expected[] = {
      {"st_idle", "idle [] '' accepting=1 default=1 dpi=0 capture:/st_idle Local Raw Printer"},
      {"st_out",
       "stopped [paused;] 'out of labels' accepting=1 default=0 dpi=0 capture:/st_out "
       "Local Raw Printer"},
      {"st_reject",
       "idle [] 'Rejecting Jobs' accepting=0 default=0 dpi=0 capture:/st_reject "
       "Local Raw Printer"},
      {"st_300", "idle [] '' accepting=1 default=0 dpi=300 capture:/st_300 Acme Label 300dpi"},
  };
  const PrinterList list = listPrinters(http.get());
  ASSERT_TRUE(list.ok) << list.failure.message;
  for (const auto& [name, fields] : expected) {
    const std::string want = name + (" " + std::string(fields));
    const PrinterLookup got = getPrinter(http.get(), name);
    ASSERT_EQ(got.outcome, Lookup::Found) << name << ": " << got.failure.message;
    EXPECT_EQ(show(got.printer), want);
    std::string listed;  // exactly once
    for (const PrinterInfo& p : list.printers) listed += p.name == name ? show(p) : "";
    EXPECT_EQ(listed, want);
  }
}

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
    EXPECT_EQ(got.outcome, Lookup::NotFound) << name << ": " << show(got.printer);
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
