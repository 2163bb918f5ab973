// Printer and job state as the private scheduler reports it.
#include "printer/state.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "cups_env.h"

namespace {

using namespace cupsstate;

// A driver queue whose PPD sets the default resolution.
void addPpdQueue(const std::string& name, int dpi) {
  const std::string ppd = std::string(std::getenv("HOME")) + "/" + name + ".ppd";
  const std::string res = std::to_string(dpi) + "dpi";
  std::ofstream(ppd)
      << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"LABEL.PPD\"\n*Manufacturer: \"Acme\"\n*Product: \"(Label)\"\n"
         "*cupsFilter: \"application/vnd.cups-raw 0 -\"\n*ModelName: \"Acme "
         "Label\"\n*ShortNickName: \"Acme Label\"\n"
         "*NickName: \"Acme Label "
      << res
      << "\"\n*PSVersion: \"(3010.000) 0\"\n"
         "*OpenUI *PageSize: PickOne\n*DefaultPageSize: w144h72\n"
         "*PageSize w144h72: \"\"\n*CloseUI: *PageSize\n"
         "*DefaultImageableArea: w144h72\n*ImageableArea w144h72: \"0 0 144 72\"\n"
         "*DefaultPaperDimension: w144h72\n*PaperDimension w144h72: \"144 72\"\n"
         "*OpenUI *Resolution: PickOne\n*DefaultResolution: "
      << res << "\n*Resolution " << res << ": \"\"\n*CloseUI: *Resolution\n";
  ASSERT_EQ(testcups::admin("lpadmin -p " + name + " -E -v capture:/" + name + " -P " + ppd), 0);
}

// A six-byte job; "held" keeps it until someone releases or cancels it.
int32_t submit(http_t* http, const std::string& queue, const char* title, bool held) {
  char path[] = "/tmp/state-job-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  const bool written = write(fd, "label\n", 6) == 6;
  close(fd);
  cups_option_t hold = {const_cast<char*>("job-hold-until"), const_cast<char*>("indefinite")};
  const int id = written ? cupsPrintFile2(http, queue.c_str(), path, title, held, &hold) : 0;
  unlink(path);
  return id;
}

std::string show(const PrinterInfo& p) {
  std::ostringstream out;
  out << p.name << " " << p.state << " [";
  for (const auto& reason : p.stateReasons) out << reason << ";";
  out << "] '" << p.stateMessage << "' accepting=" << p.acceptingJobs << " default=" << p.isDefault
      << " dpi=" << p.resolutionDpi.value_or(0) << " " << p.deviceUri << " " << p.makeAndModel;
  return out.str();
}

class StateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* queue : {"st_idle", "st_out", "st_reject"}) testcups::addQueue(queue);
    ASSERT_EQ(testcups::admin("cupsdisable -r 'out of labels' st_out"), 0);
    ASSERT_EQ(testcups::admin("cupsreject st_reject"), 0);
    addPpdQueue("st_300", 300);
    ASSERT_EQ(testcups::admin("lpadmin -d st_idle"), 0);
  }
  void SetUp() override { testcups::setLpoptions({}); }

  testcups::Connection http = testcups::connect();
};

// Each queue as asked alone and as found in the whole list.
TEST_F(StateTest, PrintersAsTheSchedulerKeepsThem) {
  const PrinterInfo expected[] = {
      {"st_idle", "idle", {}, "", true, true, {}, "capture:/st_idle", "Local Raw Printer"},
      {"st_out",
       "stopped",
       {"paused"},
       "out of labels",
       true,
       false,
       {},
       "capture:/st_out",
       "Local Raw Printer"},
      {"st_reject",
       "idle",
       {},
       "Rejecting Jobs",
       false,
       false,
       {},
       "capture:/st_reject",
       "Local Raw Printer"},
      {"st_300", "idle", {}, "", true, false, 300, "capture:/st_300", "Acme Label 300dpi"},
  };
  const PrinterList list = listPrinters(http.get());
  ASSERT_TRUE(list.ok) << list.failure.message;
  for (const PrinterInfo& want : expected) {
    const PrinterLookup got = getPrinter(http.get(), want.name);
    ASSERT_EQ(got.outcome, Lookup::Found) << want.name << ": " << got.failure.message;
    EXPECT_EQ(show(got.printer), show(want));
    int listed = 0;
    for (const PrinterInfo& p : list.printers) {
      if (p.name != want.name) continue;
      ++listed;
      EXPECT_EQ(show(p), show(want));
    }
    EXPECT_EQ(listed, 1) << want.name;
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

TEST_F(StateTest, HeldJobIsCancelledOnce) {
  const int32_t id = submit(http.get(), "st_idle", "held label", true);
  ASSERT_GT(id, 0) << cupsLastErrorString();
  JobLookup got = getJob(http.get(), id);
  ASSERT_EQ(got.outcome, Lookup::Found) << got.failure.message;
  EXPECT_EQ(got.job.id, id);
  EXPECT_EQ(got.job.printer, "st_idle");
  EXPECT_EQ(got.job.state, "held");
  EXPECT_EQ(got.job.stateReasons, std::vector<std::string>{"job-hold-until-specified"});
  EXPECT_EQ(got.job.title, "held label");
  EXPECT_EQ(got.job.kOctets, 1);
  EXPECT_TRUE(got.job.createdAt.has_value());
  EXPECT_FALSE(got.job.completedAt.has_value());
  EXPECT_FALSE(isFinalJobState(got.job.state));

  EXPECT_EQ(cancelJob(http.get(), id).outcome, Cancel::Cancelled);
  got = getJob(http.get(), id);
  ASSERT_EQ(got.outcome, Lookup::Found);
  EXPECT_EQ(got.job.state, "canceled");
  EXPECT_TRUE(isFinalJobState(got.job.state));
  EXPECT_GE(got.job.completedAt.value_or(0), got.job.createdAt.value_or(1));

  const CancelResult again = cancelJob(http.get(), id);
  EXPECT_EQ(again.outcome, Cancel::AlreadyFinal);
  EXPECT_EQ(again.failure.status, IPP_STATUS_ERROR_NOT_POSSIBLE);
}

TEST_F(StateTest, PrintedJobEndsCompleted) {
  const int32_t id = submit(http.get(), "st_idle", "printed label", false);
  ASSERT_GT(id, 0) << cupsLastErrorString();
  // One six-byte job through a shell backend; the bound only stops a hang.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  JobLookup got = getJob(http.get(), id);
  while (got.outcome == Lookup::Found && !isFinalJobState(got.job.state) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    got = getJob(http.get(), id);
  }
  ASSERT_EQ(got.outcome, Lookup::Found) << got.failure.message;
  EXPECT_EQ(got.job.state, "completed");
  EXPECT_EQ(got.job.printer, "st_idle");
  EXPECT_EQ(got.job.title, "printed label");
  EXPECT_GE(got.job.completedAt.value_or(0), got.job.createdAt.value_or(1));
  EXPECT_EQ(testcups::waitForJob("st_idle"), (std::vector<uint8_t>{'l', 'a', 'b', 'e', 'l', '\n'}));
  EXPECT_EQ(cancelJob(http.get(), id).outcome, Cancel::AlreadyFinal);
}

TEST_F(StateTest, UnknownJobsAreNotFound) {
  for (const int32_t id : {0, -3, 999999}) {
    const JobLookup got = getJob(http.get(), id);
    EXPECT_EQ(got.outcome, Lookup::NotFound) << id;
    EXPECT_EQ(got.failure.status, IPP_STATUS_ERROR_NOT_FOUND) << id;
    const CancelResult cancelled = cancelJob(http.get(), id);
    EXPECT_EQ(cancelled.outcome, Cancel::NotFound) << id;
    EXPECT_EQ(cancelled.failure.status, IPP_STATUS_ERROR_NOT_FOUND) << id;
  }
}

// A scheduler that took the connection and then went away (its socket gone
// too, so libcups cannot reconnect), and no connection at all: errors, never
// "not found".
TEST(StateWithoutScheduler, EveryCallIsAnError) {
  char dir[] = "/tmp/state-gone-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  sockaddr_un addr{};
  addr.sun_family = AF_LOCAL;
  const std::string path = std::string(dir) + "/cups.sock";
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  const int listener = socket(AF_LOCAL, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  testcups::Connection gone(
      httpConnect2(path.c_str(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr));
  close(listener);
  unlink(path.c_str());
  rmdir(dir);
  ASSERT_NE(gone, nullptr);

  const std::pair<const char*, std::function<std::pair<bool, Failure>(http_t*)>> calls[] = {
      {"listPrinters",
       [](http_t* h) {
         auto r = listPrinters(h);
         return std::pair(!r.ok, r.failure);
       }},
      {"getPrinter",
       [](http_t* h) {
         auto r = getPrinter(h, "st_idle");
         return std::pair(r.outcome == Lookup::Error, r.failure);
       }},
      {"getJob",
       [](http_t* h) {
         auto r = getJob(h, 1);
         return std::pair(r.outcome == Lookup::Error, r.failure);
       }},
      {"cancelJob",
       [](http_t* h) {
         auto r = cancelJob(h, 1);
         return std::pair(r.outcome == Cancel::Error, r.failure);
       }},
  };
  for (http_t* http : {gone.get(), static_cast<http_t*>(nullptr)}) {
    for (const auto& [name, call] : calls) {
      const auto [isError, failure] = call(http);
      EXPECT_TRUE(isError) << name << (http ? " (gone)" : " (null)");
      EXPECT_NE(failure.status, IPP_STATUS_OK) << name;
      EXPECT_NE(failure.message, "") << name;
    }
  }
}

}  // namespace
