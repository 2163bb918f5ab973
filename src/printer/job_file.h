#pragma once
// The temporary file a job is written to before CUPS reads it:
// /tmp/printer_command_YYYYMMDD_HHMMSS_N, created exclusively with mode 0600,
// closed and removed on every path once it has been created.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// N: a number from 0 to RAND_MAX drawn from this process's own generator,
// seeded once from the system's random source, so that processes started in
// the same second pick different names. The host's rand() is not touched.
// Safe to call from several threads at once.
int nextJobFileNumber();
// Test hook: restarts the generator from this seed (one process only).
void seedJobFileNumbers(uint64_t seed);

std::string jobFileName(std::time_t when, int number);

// Writes until every byte is written or a real error: short writes are
// continued and EINTR is retried (Linux writes at most 0x7ffff000 bytes per
// call).
bool writeFully(int fd, const uint8_t* data, size_t size);

class JobFile {
 public:
  explicit JobFile(std::string path);
  ~JobFile();
  JobFile(const JobFile&) = delete;
  JobFile& operator=(const JobFile&) = delete;

  const std::string& path() const { return path_; }
  bool created() const { return onDisk_; }
  bool writeAll(const std::vector<uint8_t>& bytes) {
    return fd_ >= 0 && writeFully(fd_, bytes.data(), bytes.size());
  }
  void close();
  bool remove();

 private:
  std::string path_;
  int fd_;
  bool onDisk_;
};
