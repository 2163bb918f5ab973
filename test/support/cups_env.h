#pragma once
// The C++ side of the private scheduler: the tests run under
// lib/private-cups.js, which exports CUPS_SERVER and CUPS_CAPTURE_DIR.

#include <cstdint>
#include <string>
#include <vector>

namespace testcups {

struct CapturedJob {
  int id = 0;
  std::vector<uint8_t> data;
  std::string title;
  std::string options;
  std::string type;  // CONTENT_TYPE as the backend saw it
};

// The capture folder; fails the test program loudly when run outside the wrapper.
const std::string& captureDir();

// Runs an administration command (lpadmin, cupsdisable, ...) and returns its exit status.
int admin(const std::vector<std::string>& argv);

// A raw queue whose device is the capture backend.
void addQueue(const std::string& name);

// Completed jobs of a queue, oldest first.
std::vector<CapturedJob> jobs(const std::string& queue);

// Polls (bounded) until the queue has at least `count` completed jobs.
std::vector<CapturedJob> waitForJobs(const std::string& queue, size_t count, int timeoutMs = 10000);

// Replaces $HOME/.cups/lpoptions (the wrapper gives every run its own HOME).
// libcups reads HOME once per process but the file at every cupsGetDests.
void setLpoptions(const std::vector<std::string>& lines);

// Runs fn with standard output captured; returns what it printed.
template <typename Fn>
std::string captureStdout(Fn&& fn);

std::string beginCapture();
std::string endCapture();

template <typename Fn>
std::string captureStdout(Fn&& fn) {
  beginCapture();
  fn();
  return endCapture();
}

}  // namespace testcups
