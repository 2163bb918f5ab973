#pragma once
// The C++ side of the private scheduler: the tests run under
// lib/private-cups.js, which exports CUPS_SERVER and CUPS_CAPTURE_DIR.

#include <cups/cups.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testcups {

// Runs a shell command (lpadmin, cupsdisable, ...) and returns its exit status.
int admin(const std::string& command);

// A raw queue whose device is the capture backend.
void addQueue(const std::string& name);

// Where the capture backend writes; <queue>.hold there makes it keep its job.
std::string captureDir();

// The first capture file matching a glob pattern, waiting up to 10 s for
// one; empty if none came.
std::string waitForCapture(const std::string& pattern);

// The job a queue that prints once received; empty if none came.
std::vector<uint8_t> waitForJob(const std::string& queue);

// Replaces a file with these lines.
void writeLines(const std::string& file, const std::vector<std::string>& lines);

// Replaces $HOME/.cups/lpoptions (the wrapper gives every run its own HOME).
// libcups reads HOME once per process but the file at every cupsGetDests.
void setLpoptions(const std::vector<std::string>& lines);

struct HttpClose {
  void operator()(http_t* http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, HttpClose>;

// A connection of the test's own to the private scheduler; throws if none.
Connection connect();

}  // namespace testcups
