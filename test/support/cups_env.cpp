#include "cups_env.h"

#include <glob.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace testcups {

int admin(const std::string& command) {
  // lpadmin's deprecation warning is expected; keep it out of the test log.
  const int status = std::system((command + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void addQueue(const std::string& name) {
  if (std::getenv("CUPS_CAPTURE_DIR") == nullptr || std::getenv("CUPS_SERVER") == nullptr) {
    throw std::runtime_error("run this test under lib/private-cups.js");
  }
  if (admin("lpadmin -p " + name + " -E -v capture:/" + name) != 0) {
    throw std::runtime_error("lpadmin failed for " + name);
  }
}

std::string captureDir() {
  const char* dir = std::getenv("CUPS_CAPTURE_DIR");
  if (dir == nullptr) throw std::runtime_error("run this test under lib/private-cups.js");
  return dir;
}

// Polled: the scheduler runs the backend in its own time.
std::string waitForCapture(const std::string& pattern) {
  const std::string full = captureDir() + "/" + pattern;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    glob_t found{};
    const std::string first = glob(full.c_str(), 0, nullptr, &found) == 0 ? found.gl_pathv[0] : "";
    globfree(&found);
    if (!first.empty() || std::chrono::steady_clock::now() > deadline) return first;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The backend renames <queue>-<id>.job into place once the job is complete.
std::vector<uint8_t> waitForJob(const std::string& queue) {
  const std::string path = waitForCapture(queue + "-*.job");
  if (path.empty()) return {};
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeLines(const std::string& file, const std::vector<std::string>& lines) {
  std::ofstream out(file, std::ios::trunc);
  for (const auto& line : lines) out << line << "\n";
}

void setLpoptions(const std::vector<std::string>& lines) {
  const char* home = std::getenv("HOME");
  if (home == nullptr) throw std::runtime_error("HOME is not set");
  mkdir((std::string(home) + "/.cups").c_str(), 0700);
  writeLines(std::string(home) + "/.cups/lpoptions", lines);
}

Connection connect() {
  Connection http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                               30000, nullptr));
  if (http == nullptr) throw std::runtime_error(std::string("cannot connect to ") + cupsServer());
  return http;
}

}  // namespace testcups
