#include "printer/job_file.h"

#include <fcntl.h>
#include <unistd.h>
#if !defined(__APPLE__)
#include <sys/random.h>
#endif

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <utility>

namespace {

struct JobNumbers {
  std::mutex lock;
  std::mt19937_64 engine;
  pid_t seededIn = 0;  // 0: not seeded yet; another pid: inherited through fork()
};

JobNumbers& jobNumbers() {
  static JobNumbers numbers;
  return numbers;
}

// getentropy is in glibc (2.25), musl and the BSDs; macOS has it too, but
// arc4random_buf is its own source there and cannot fail.
uint64_t systemSeed() {
  uint64_t seed = 0;
#if defined(__APPLE__)
  arc4random_buf(&seed, sizeof seed);
  return seed;
#else
  if (getentropy(&seed, sizeof seed) == 0) return seed;
  // No random source: the process id and the clock still tell processes apart.
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(ticks);
#endif
}

}  // namespace

int nextJobFileNumber() {
  JobNumbers& numbers = jobNumbers();
  std::lock_guard<std::mutex> guard(numbers.lock);
  if (numbers.seededIn != getpid()) {
    numbers.engine.seed(systemSeed());
    numbers.seededIn = getpid();
  }
  return std::uniform_int_distribution<int>(0, RAND_MAX)(numbers.engine);
}

void seedJobFileNumbers(uint64_t seed) {
  JobNumbers& numbers = jobNumbers();
  std::lock_guard<std::mutex> guard(numbers.lock);
  numbers.engine.seed(seed);
  numbers.seededIn = getpid();
}

std::string jobFileName(std::time_t when, int number) {
  std::tm local{};
  localtime_r(&when, &local);
  char name[256] = {};
  std::snprintf(name, sizeof name, "/tmp/printer_command_%04d%02d%02d_%02d%02d%02d_%d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, number);
  return name;
}

bool writeFully(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;  // nothing moves: a full disk reports itself so
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

JobFile::JobFile(std::string path)
    : path_(std::move(path)),
      fd_(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)),
      onDisk_(fd_ >= 0) {}

JobFile::~JobFile() {
  close();
  if (onDisk_) remove();
}

void JobFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool JobFile::remove() {
  onDisk_ = false;
  return ::unlink(path_.c_str()) == 0;
}
