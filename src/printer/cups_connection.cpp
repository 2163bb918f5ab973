#include "printer/cups_connection.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "helper/log.h"

double CupsConnection::configuredTimeout() {
  const char* text = std::getenv(kTimeoutVariable);
  if (text == nullptr || *text == '\0') return kDefaultTimeout;
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(seconds) || seconds <= 0) return kDefaultTimeout;
  // libcups keeps the wait in milliseconds in an int.
  return seconds > 86400 ? 86400 : seconds;
}

CupsConnection::CupsConnection(double timeoutSeconds)
    : timeout_(timeoutSeconds), credentials_(cupsauth::current()) {
  // libcups keeps the callback and the user name per thread; both are set
  // before anything here can make a request.
  cupsSetPasswordCB2(&CupsConnection::onPassword, this);
  if (credentials_ != nullptr) cupsSetUser(credentials_->user.c_str());
  // The server, port and encryption libcups's own default connection uses.
  const int msec = static_cast<int>(std::ceil(timeout_ * 1000));
  // Made unconnected (a wait of 0), then connected as httpConnect2 would, so
  // that the reason of a failed connect is still there to read.
  errno = 0;
  const http_encryption_t encryption = cupsEncryption();
  http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, encryption, 1, 0, nullptr);
  if (http_ == nullptr) {
    connectError_ = std::strerror(errno != 0 ? errno : ENOENT);
    return;
  }
  // Encryption is negotiated inside the connect (the TLS handshake for
  // Always, the upgrade exchange for Required): its waits are bounded like
  // every other one only if the timeout is in place first.
  httpSetTimeout(http_, timeout_, &CupsConnection::onTimeout, this);
  const auto started = std::chrono::steady_clock::now();
  if (httpReconnect2(http_, msec, nullptr) != 0) {
    const int error = httpError(http_) != 0 ? httpError(http_) : errno;
    if (error == ETIMEDOUT || errno == ETIMEDOUT) timedOut_ = true;
    if (error != 0) connectError_ = std::strerror(error);
    const bool encrypting =
        encryption == HTTP_ENCRYPTION_ALWAYS || encryption == HTTP_ENCRYPTION_REQUIRED;
    if (!timedOut_ && encrypting && cupsLastError() == IPP_STATUS_ERROR_CUPS_PKI) {
      const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - started;
      // Below 10 s libcups gives a TLS handshake its own 10 s and no
      // callback: a handshake that failed only after the whole period is
      // that wait running out. A server that cannot encrypt says so at once.
      const char* said = cupsLastErrorString();
      if (waited.count() >= timeout_) {
        timedOut_ = true;
      } else {
        encryptionRefused_ = true;
        if (said != nullptr && *said != '\0') connectError_ = said;
      }
    }
    httpClose(http_);
    http_ = nullptr;
    if (connectError_.empty()) connectError_ = std::strerror(errno != 0 ? errno : ENOENT);
  }
}

CupsConnection::~CupsConnection() {
  if (http_ != nullptr) httpClose(http_);
  // The thread keeps a callback that never prompts; the user name goes back
  // to libcups's own (CUPS_USER, client.conf or the login name).
  cupsSetPasswordCB2(&CupsConnection::refuseAll, nullptr);
  if (credentials_ != nullptr) cupsSetUser(nullptr);
}

// libcups asks again after a refused password: the second question means the
// first answer was wrong, so it gets nothing and the exchange fails.
const char* CupsConnection::onPassword(const char* /*prompt*/, http_t* http, const char* /*method*/,
                                       const char* /*resource*/, void* self) {
  auto* cups = static_cast<CupsConnection*>(self);
  if (http != cups->http_ || cups->credentials_ == nullptr || cups->passwordGiven_) {
    cups->authRefused_ = true;
    return nullptr;
  }
  cups->passwordGiven_ = true;
  return cups->credentials_->password.c_str();
}

const char* CupsConnection::refuseAll(const char* /*prompt*/, http_t* /*http*/,
                                      const char* /*method*/, const char* /*resource*/,
                                      void* /*self*/) {
  return nullptr;
}

namespace {

// Bytes written to the socket that the other side has not taken yet; -1 if unknown.
long unsentBytes(int fd) {
  int unsent = 0;
#if defined(SO_NWRITE)
  socklen_t size = sizeof unsent;
  if (getsockopt(fd, SOL_SOCKET, SO_NWRITE, &unsent, &size) == 0) return unsent;
#elif defined(TIOCOUTQ)
  if (ioctl(fd, TIOCOUTQ, &unsent) == 0) return unsent;
#endif
  (void)fd;
  return -1;
}

}  // namespace

// Called by libcups when a wait on the connection (for an answer, or for room
// to send) has seen nothing for the timeout: 1 waits another period, 0 gives
// the exchange up.
int CupsConnection::onTimeout(http_t* http, void* self) {
  return static_cast<CupsConnection*>(self)->stillWaiting(http);
}

int CupsConnection::stillWaiting(http_t* http) {
  // Nothing is written while libcups waits here, so a send queue that
  // shrinks means the scheduler is reading what was sent. Bytes that were
  // waiting to be read already are the scheduler's early word (an interim
  // "100 Continue") while libcups still waits to send: no progress, unless
  // libcups is the one waiting for them and they came just now.
  const int fd = httpGetFd(http);
  pollfd incoming{fd, POLLIN, 0};
  const bool readable = poll(&incoming, 1, 0) == 1 && (incoming.revents & POLLIN) != 0;
  const long before = unsentBytes(fd);
  if (readable && before == 0) return 1;
  if (before > 0) {
    pollfd watch{fd, static_cast<short>(readable ? 0 : POLLIN), 0};
    poll(&watch, 1, static_cast<int>(std::min(1000.0, timeout_ * 1000)));
    const long after = unsentBytes(fd);
    if ((watch.revents & POLLIN) != 0 || (after >= 0 && after < before)) return 1;
  }
  timedOut_ = true;
  return 0;
}

IppPtr CupsConnection::doRequest(ipp_t* request, const char* resource) {
  lastUnanswered_ = true;
  if (http_ == nullptr || timedOut_) {
    ippDelete(request);
    return nullptr;
  }
  IppPtr response(cupsDoRequest(http_, request, resource));
  lastUnanswered_ = unanswered(http_, response.get());
  return response;
}

void CupsConnection::logTimeout() const {
  tracelog::line("[DEBUG] macOS平台: CUPS调度程序在%g秒内没有响应，已放弃\n", timeout_);
}
