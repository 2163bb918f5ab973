#include "cups_env.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace testcups {
namespace {

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const std::string& path) {
  auto bytes = readFile(path);
  return {bytes.begin(), bytes.end()};
}

int savedStdout = -1;
std::string captureFile;

}  // namespace

const std::string& captureDir() {
  static const std::string dir = [] {
    const char* d = std::getenv("CUPS_CAPTURE_DIR");
    if (d == nullptr || std::getenv("CUPS_SERVER") == nullptr) {
      std::fprintf(stderr,
                   "run this test under lib/private-cups.js (CUPS_CAPTURE_DIR unset)\n");
      std::abort();
    }
    return std::string(d);
  }();
  return dir;
}

int admin(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // lpadmin's deprecation warning is expected; keep it out of the test log.
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void addQueue(const std::string& name) {
  captureDir();
  if (admin({"lpadmin", "-p", name, "-E", "-v", "capture:/" + name}) != 0) {
    throw std::runtime_error("lpadmin failed for " + name);
  }
}

std::vector<CapturedJob> jobs(const std::string& queue) {
  std::vector<CapturedJob> result;
  const std::string prefix = queue + "-";
  DIR* dir = opendir(captureDir().c_str());
  if (dir == nullptr) return result;
  while (dirent* entry = readdir(dir)) {
    std::string file = entry->d_name;
    if (file.size() <= prefix.size() + 4 || file.compare(0, prefix.size(), prefix) != 0 ||
        file.compare(file.size() - 4, 4, ".job") != 0) {
      continue;
    }
    std::string id = file.substr(prefix.size(), file.size() - prefix.size() - 4);
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) continue;
    CapturedJob job;
    job.id = std::stoi(id);
    const std::string base = captureDir() + "/" + queue + "-" + id;
    job.data = readFile(base + ".job");
    job.title = readText(base + ".title");
    job.options = readText(base + ".options");
    job.type = readText(base + ".type");
    result.push_back(std::move(job));
  }
  closedir(dir);
  std::sort(result.begin(), result.end(),
            [](const CapturedJob& a, const CapturedJob& b) { return a.id < b.id; });
  return result;
}

std::vector<CapturedJob> waitForJobs(const std::string& queue, size_t count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto found = jobs(queue);
    if (found.size() >= count || std::chrono::steady_clock::now() > deadline) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void setLpoptions(const std::vector<std::string>& lines) {
  const char* home = std::getenv("HOME");
  if (home == nullptr) throw std::runtime_error("HOME is not set");
  mkdir((std::string(home) + "/.cups").c_str(), 0700);
  std::ofstream out(std::string(home) + "/.cups/lpoptions", std::ios::trunc);
  for (const auto& line : lines) out << line << "\n";
}

std::string beginCapture() {
  std::fflush(stdout);
  char pattern[] = "/tmp/label-stdout-XXXXXX";
  int fd = mkstemp(pattern);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  captureFile = pattern;
  savedStdout = dup(1);
  dup2(fd, 1);
  close(fd);
  return captureFile;
}

std::string endCapture() {
  std::fflush(stdout);
  dup2(savedStdout, 1);
  close(savedStdout);
  savedStdout = -1;
  std::string text = readText(captureFile);
  unlink(captureFile.c_str());
  return text;
}

}  // namespace testcups
