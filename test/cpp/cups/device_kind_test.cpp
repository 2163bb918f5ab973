// Which queues count as reached over IPP, from the options the scheduler
// gives a queue: the URI's scheme decides, in any letter case, and a
// driverless queue counts whatever its URI.
#include "printer/device_kind.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <string>

namespace {

struct Queue {
  const char* uri;    // null: no device-uri option
  const char* model;  // null: no printer-make-and-model option
  bool ipp;
};

const Queue kQueues[] = {
    {"ipp://127.0.0.1:631/ipp/print", nullptr, true},
    {"ipps://printer.local/ipp/print", nullptr, true},
    {"IPP://host/printers/x", nullptr, true},
    {"ippusb://Label%20Printer?serial=1", nullptr, true},
    {"dnssd://Label._ipp._tcp.local/?uuid=1", nullptr, true},
    {"implicitclass://Label/", nullptr, true},
    {"socket://127.0.0.1:9100", nullptr, false},
    {"capture:/lab", nullptr, false},
    {"http://host/ipp", nullptr, false},  // CUPS's http backend, but not a scheme this decides on
    {"ippx://host/", nullptr, false},
    {"ipp", nullptr, false},  // no scheme at all
    {"", nullptr, false},
    {nullptr, nullptr, false},
    {"socket://host", "Label Printer - IPP Everywhere", true},
    {"socket://host", "Label Printer, driverless, cups-filters 2.0", true},
    {"socket://host", "Zebra ZPL Label Printer", false},
};

TEST(DeviceKind, DecidesFromTheUriSchemeOrADriverlessModel) {
  for (const Queue& q : kQueues) {
    cups_dest_t dest{};
    if (q.uri)
      dest.num_options = cupsAddOption("device-uri", q.uri, dest.num_options, &dest.options);
    if (q.model) {
      dest.num_options =
          cupsAddOption("printer-make-and-model", q.model, dest.num_options, &dest.options);
    }
    EXPECT_EQ(reachedOverIpp(&dest), q.ipp)
        << (q.uri ? q.uri : "(none)") << " / " << (q.model ? q.model : "");
    cupsFreeOptions(dest.num_options, dest.options);
  }
  EXPECT_FALSE(reachedOverIpp(nullptr));  // a queue the scheduler did not describe
}

}  // namespace
