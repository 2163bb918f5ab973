// QueueDests, which asks the scheduler about one queue, against cupsGetDests,
// which lists every destination: the same destinations of that queue, in the
// same order, with the same options, for lpoptions files in both places.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cups_env.h"
#include "printer/cups_connection.h"
#include "printer/cups_dests.h"

namespace {

// "name/instance" and the options.
using Dest = std::pair<std::string, std::map<std::string, std::string>>;

Dest copy(const cups_dest_t& d) {
  Dest out{std::string(d.name) + "/" + (d.instance ? d.instance : "(none)"), {}};
  for (int i = 0; i < d.num_options; ++i) out.second[d.options[i].name] = d.options[i].value;
  return out;
}

// The whole list's destinations of that queue (names are unique regardless
// of case): the oracle. Nothing in between returns early.
std::vector<Dest> fromWholeList(const std::string& name) {
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests(&dests);
  std::vector<Dest> out;
  for (int i = 0; i < count; ++i) {
    if (strcasecmp(dests[i].name, name.c_str()) == 0) out.push_back(copy(dests[i]));
  }
  cupsFreeDests(count, dests);
  return out;
}

std::vector<Dest> fromQueue(const std::string& name, QueueDests::Answer* answer) {
  CupsConnection cups;
  const QueueDests queue(cups, name);
  *answer = queue.answer();
  std::vector<Dest> out;
  for (const cups_dest_t& d : queue) out.push_back(copy(d));
  return out;
}

TEST(QueueDests, AreTheQueuesPartOfCupsGetDests) {
  testcups::addQueue("eq_a");
  testcups::addQueue("eq_b");
  ASSERT_EQ(testcups::admin("cupsdisable eq_b"), 0);
  // libcups reads CUPS_SERVERROOT (where the system lpoptions is) once per
  // thread: each case runs on a new thread.
  const std::string root = std::string(std::getenv("HOME")) + "/serverroot";
  mkdir(root.c_str(), 0755);
  setenv("CUPS_SERVERROOT", root.c_str(), 1);

  const struct {
    std::vector<std::string> system, user;
  } cases[] = {
      {{}, {}},
      {{}, {"Dest eq_a printer-resolution-default=300dpi"}},
      // Instances copy their queue's options so far; later lines add to them;
      // the user's file comes last; case differences name the same queue.
      {{"Dest eq_a/sys foo=1 printer-state=9", "Dest eq_a base=sys"},
       {"Dest eq_a/one a=1", "Dest eq_a bar=2", "Dest eq_a/two b=2", "Dest EQ_A/Three",
        "Default eq_a/one x=y", "Dest eq_a/sys foo=2"}},
      {{"Dest EQ_A x=1 'printer-info=with space'"},
       {"Dest eq_a x=3", "Dest eq_a/Z", "Dest eq_a/a"}},
      {{"dest Eq_A/upper", "Dest eq_b/inst printer-state=idle"},
       {"# a comment", "Dest nosuch/inst a=1", "Dest eq_b", "Dest eq_a/inst \\#x=1 # comment",
        "Dest", "Destination eq_a z=1", "Dest eq_b/empty"}},
  };
  const char* names[] = {"eq_a", "EQ_A", "eq_b", "nosuch", "eq_a/one", ""};
  for (const auto& c : cases) {
    testcups::writeLines(root + "/lpoptions", c.system);
    testcups::setLpoptions(c.user);
    std::thread([&] {
      for (const char* name : names) {
        QueueDests::Answer answer = QueueDests::Answer::kTimedOut;
        const std::vector<Dest> got = fromQueue(name, &answer);
        const std::vector<Dest> expected = fromWholeList(name);
        EXPECT_EQ(got, expected) << name << " with " << c.user.size() << " user lines";
        EXPECT_EQ(answer == QueueDests::Answer::kFound, !expected.empty()) << name;
      }
    }).join();
  }
  unsetenv("CUPS_SERVERROOT");
  testcups::setLpoptions({});
}

// Dots per cm become the nearest dpi in 64 bits; what no int32_t holds is no resolution.
TEST(QueueDests, ResolutionInDotsPerInch) {
  const struct {
    int xres;
    ipp_res_t units;
    int32_t dpi;
  } cases[] = {
      {300, IPP_RES_PER_INCH, 300},
      {118, IPP_RES_PER_CM, 300},  // 299.72
      {80, IPP_RES_PER_CM, 203},   // 203.2
      {236, IPP_RES_PER_CM, 599},  // 599.44
      {0, IPP_RES_PER_INCH, 0},
      {-5, IPP_RES_PER_CM, 0},
      {INT32_MAX, IPP_RES_PER_INCH, INT32_MAX},
      {845466002, IPP_RES_PER_CM, 2147483645},  // the last that fits; int arithmetic
      {845466003, IPP_RES_PER_CM, 0},           // overflowed on both
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dpiOfResolution(c.xres, c.units), c.dpi)
        << c.xres << (c.units == IPP_RES_PER_CM ? " dpcm" : " dpi");
  }
}

}  // namespace
