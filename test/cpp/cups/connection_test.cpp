// The bounded connection: an upload that keeps moving, however slowly, is not
// cut, also while libcups already waits for the answer and the socket buffers
// still drain, as they do on a slow link to a remote print server.
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
#include "language.h"
#include "printer/trace_code.h"

namespace {

using namespace std::chrono_literals;

// Takes one connection on a loopback TCP port and relays it to the
// scheduler's socket: the add-on's bytes `bytesPerTick` at a time, one read
// per tick, the scheduler's as they come. A small receive window keeps what
// is not read yet on the add-on's side, as a slow link would.
class SlowLink {
 public:
  SlowLink(const std::string& upstream, size_t bytesPerTick, std::chrono::milliseconds tick)
      : listener_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    const int window = 4096;
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
      throw std::runtime_error("listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([=] { relay(upstream, bytesPerTick, tick); });
  }
  ~SlowLink() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  // For cupsSetServer.
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
  int ticks() const { return ticks_; }

 private:
  void relay(const std::string& upstream, size_t bytesPerTick, std::chrono::milliseconds tick) {
    pollfd listening{listener_, POLLIN, 0};
    while (!stop_ && poll(&listening, 1, 50) <= 0) continue;
    if (stop_) return;
    const int client = accept(listener_, nullptr, nullptr);
    const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    upstream.copy(addr.sun_path, sizeof addr.sun_path - 1);
    connect(server, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    std::vector<char> buffer(65536);
    // From the scheduler (index 1) as it comes; from the add-on a tick at a time.
    for (bool open = true; open && !stop_;) {
      pollfd ends[] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      poll(ends, 2, 50);
      for (int i : {1, 0}) {
        if (ends[i].revents == 0) continue;
        const ssize_t n = read(ends[i].fd, buffer.data(), i == 1 ? buffer.size() : bytesPerTick);
        open = open && n > 0 && send(ends[1 - i].fd, buffer.data(), size_t(n), MSG_NOSIGNAL) == n;
        if (i == 0 && open) {
          ++ticks_;
          std::this_thread::sleep_for(tick);
        }
      }
    }
    close(client);
    close(server);
  }

  int listener_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> ticks_{0};
  std::thread thread_;
};

TEST(CupsConnection, AnUploadThatKeepsMovingIsNotCut) {
  testcups::addQueue("conn_slow");
  // 100 x 80 mm at 203 dpi of random dots: 64,000 raster bytes, read at
  // 4 KiB per 100 ms: libcups writes them into its send queue at once and
  // then waits over a second for the answer, more than twice the timeout,
  // while they drain.
  std::mt19937 bits(7);
  const ByteVector image = testbmp::build(
      testbmp::grayImage(800, 640, [&](int, int) -> uint8_t { return bits() & 1 ? 0 : 255; }));
  TraceCodePrintParams params = labelRequest("conn_slow", "TSPL", false, 100, 80, image);
  TraceCodePrintParams copy = params;
  const ByteVector expected = makeInstruction(std::move(copy), 203)->render();

  SlowLink relay(std::getenv("CUPS_SERVER"), 4096, 100ms);
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
