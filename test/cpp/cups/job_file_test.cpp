// The job file: its number generator and its write loop.
#include "printer/job_file.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(JobFile, NumbersStayInRandsRangeAndLeaveRandAlone) {
  std::srand(11);
  const int first = std::rand();
  std::srand(11);
  std::set<int> seen;
  std::vector<std::thread> threads;
  std::mutex lock;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        const int n = nextJobFileNumber();
        std::lock_guard<std::mutex> guard(lock);
        seen.insert(n);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::rand(), first);
  EXPECT_GE(*seen.begin(), 0);
  EXPECT_LE(*seen.rbegin(), RAND_MAX);
  EXPECT_GT(seen.size(), 3990u);  // 4000 draws from 2^31 values
}

TEST(JobFile, AForkedChildDrawsItsOwnNumbers) {
  seedJobFileNumbers(5);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  if (child == 0) {
    const int n = nextJobFileNumber();
    _exit(write(pipeFds[1], &n, sizeof n) == sizeof n ? 0 : 1);
  }
  int childDraw = -1;
  ASSERT_EQ(read(pipeFds[0], &childDraw, sizeof childDraw), static_cast<ssize_t>(sizeof childDraw));
  waitpid(child, nullptr, 0);
  close(pipeFds[0]);
  close(pipeFds[1]);
  EXPECT_NE(childDraw, nextJobFileNumber());
}

// A blocked write interrupted by a signal returns what it wrote so far, or
// fails with EINTR: the loop carries on until every byte is through.
TEST(JobFile, WritesEverythingThroughShortWritesAndInterruptions) {
  struct sigaction action {};
  action.sa_handler = [](int) {};  // no SA_RESTART
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::vector<uint8_t> bytes(8 << 20);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 16));

  std::atomic<bool> done{false};
  bool ok = false;
  std::thread writer([&] {
    ok = writeFully(fds[0], bytes.data(), bytes.size());
    done = true;
  });
  std::vector<uint8_t> received;
  uint8_t chunk[65536];
  int signals = 0;
  while (received.size() < bytes.size()) {
    if (!done) {
      pthread_kill(writer.native_handle(), SIGUSR1);
      ++signals;
    }
    const ssize_t n = read(fds[1], chunk, sizeof chunk);
    ASSERT_GT(n, 0);
    received.insert(received.end(), chunk, chunk + n);
  }
  writer.join();
  sigaction(SIGUSR1, &previous, nullptr);
  close(fds[0]);
  close(fds[1]);
  EXPECT_TRUE(ok);
  EXPECT_GT(signals, 1);
  EXPECT_TRUE(received == bytes);
}

TEST(JobFile, OwnsItsPathAndRemovesTheFile) {
  std::string name = jobFileName(std::time(nullptr), nextJobFileNumber());
  const std::string kept = name;
  {
    JobFile file(std::move(name));
    name.assign(kept.size(), 'x');  // the caller's string changes; the file's path does not
    ASSERT_TRUE(file.created());
    EXPECT_EQ(file.path(), kept);
    EXPECT_TRUE(file.writeAll({1, 2, 3}));
  }
  EXPECT_NE(access(kept.c_str(), F_OK), 0);
}

}  // namespace
