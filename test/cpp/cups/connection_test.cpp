// The bounded connection: an upload that keeps moving, however slowly, is not
// cut, also while libcups already waits for the answer and the socket buffers
// still drain. A relay between the add-on and the scheduler reads the
// add-on's bytes at a set pace, one read() per tick, like a slow link to a
// remote print server: it listens on TCP on the loopback address with a small
// receive window, so that what it has not read waits in the add-on's send
// queue.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <cups/cups.h>

#include "bmp_builder.h"
#include "cups_env.h"
#include "instruction/base.h"
#include "printer/trace_code.h"

namespace {

using namespace std::chrono_literals;

int connectUnix(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("connect " + path);
  }
  return fd;
}

// A listening TCP socket on the loopback address; its port goes to *port.
int listenLoopback(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  // A small receive window keeps what is not read yet on the sender's side,
  // as a slow link would.
  const int window = 4096;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
    throw std::runtime_error("listen");
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

bool writeAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, static_cast<size_t>(size));
    if (n <= 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

class Relay {
 public:
  Relay(const std::string& upstream, size_t bytesPerTick, std::chrono::milliseconds tick)
      : listener_(listenLoopback(&port_)) {
    threads_.emplace_back([=] {
      while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int client = accept(listener_, nullptr, nullptr);
        const int server = connectUnix(upstream);
        fds_.push_back(client);
        fds_.push_back(server);
        threads_.emplace_back([=] { pump(client, server, bytesPerTick, tick); });
        threads_.emplace_back([=] { pump(server, client, 65536, 0ms); });
      }
    });
  }
  ~Relay() {
    stop_ = true;
    threads_.front().join();
    for (const int fd : fds_) shutdown(fd, SHUT_RDWR);
    for (size_t i = 1; i < threads_.size(); ++i) threads_[i].join();
    for (const int fd : fds_) close(fd);
    close(listener_);
  }
  // For cupsSetServer.
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
  int ticks() const { return ticks_; }

 private:
  void pump(int from, int to, size_t bytesPerTick, std::chrono::milliseconds tick) {
    std::vector<char> buffer(bytesPerTick);
    for (;;) {
      const ssize_t n = read(from, buffer.data(), buffer.size());
      if (n <= 0 || !writeAll(to, buffer.data(), n)) break;
      if (tick.count() > 0) {
        ++ticks_;
        std::this_thread::sleep_for(tick);
      }
    }
    shutdown(to, SHUT_WR);
  }

  int port_ = 0;
  int listener_;
  std::atomic<bool> stop_{false};
  std::atomic<int> ticks_{0};
  std::vector<int> fds_;  // written by the accepting thread only, read after it ended
  std::vector<std::thread> threads_;
};

TEST(CupsConnection, AnUploadThatKeepsMovingIsNotCut) {
  testcups::addQueue("conn_slow");
  // 100 x 80 mm at 203 dpi of random dots: 64,000 raster bytes, read at
  // 4 KiB per 100 ms: libcups writes them into its send queue at once and
  // then waits over a second for the answer, more than twice the timeout,
  // while they drain.
  TraceCodePrintParams params;
  params.device = "conn_slow";
  params.instruction = "TSPL";
  params.width = 100;
  params.height = 80;
  std::mt19937 bits(7);
  const ByteVector image = testbmp::build(
      testbmp::grayImage(800, 640, [&](int, int) -> uint8_t { return bits() & 1 ? 0 : 255; }));
  params.image = {image.data(), image.size()};
  TraceCodePrintParams copy = params;
  const ByteVector expected = makeInstruction(std::move(copy), 203)->render();

  Relay relay(std::getenv("CUPS_SERVER"), 4096, 100ms);
  setenv("TRACE_LABEL_CUPS_TIMEOUT", "0.5", 1);
  bool ok = false;
  testing::internal::CaptureStdout();
  // libcups keeps the server per thread: this thread talks to the relay.
  std::thread([&] {
    cupsSetServer(relay.server().c_str());
    ok = execPrint(std::move(params));
  }).join();
  const std::string log = testing::internal::GetCapturedStdout();
  unsetenv("TRACE_LABEL_CUPS_TIMEOUT");
  EXPECT_TRUE(ok) << log;
  EXPECT_GT(relay.ticks() * 100, 2 * 500) << relay.ticks();  // several timeouts long
  EXPECT_EQ(testcups::waitForJob("conn_slow"), expected);
}

}  // namespace
