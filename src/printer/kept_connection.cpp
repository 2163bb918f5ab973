#include "printer/kept_connection.h"

#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "printer/cups_connection.h"

namespace {

// Ready for the next request: connected, not spent by a timeout, the last
// answer read to its end and not followed by "Connection: close", and nothing
// waiting to be read. A scheduler that closed the connection (a restart, its
// idle timeout) has left an end of file, and anything else unasked for (a
// TLS alert) means the same.
bool reusable(const CupsConnection& cups) {
  http_t* http = cups.http();
  if (http == nullptr || cups.timedOut() || httpError(http) != 0) return false;
  // The end of the last answer, as cupsSendRequest reads it first.
  const http_state_t last = httpGetState(http);
  if (last == HTTP_STATE_POST_SEND || last == HTTP_STATE_GET_SEND) httpFlush(http);
  if (httpGetState(http) != HTTP_STATE_WAITING || httpGetFd(http) < 0) return false;
  const char* connection = httpGetField(http, HTTP_FIELD_CONNECTION);
  if (connection != nullptr && strcasecmp(connection, "close") == 0) return false;
  char byte = 0;
  const ssize_t peeked = recv(httpGetFd(http), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace

KeptConnection::KeptConnection() = default;

KeptConnection::~KeptConnection() {
  if (pid_ != getpid()) (void)cups_.release();  // the parent's, see get()
}

CupsConnection& KeptConnection::get() {
  std::shared_ptr<const cupsauth::Credentials> credentials = cupsauth::current();
  if (cups_ && pid_ != getpid()) {
    // Made before a fork: the socket (and its TLS session) is the parent's
    // too. Closing it here could end the parent's session; it is left open.
    (void)cups_.release();
  }
  if (cups_ && (credentials != credentials_ || !reusable(*cups_))) cups_.reset();
  if (cups_) {
    cups_->resume();
    return *cups_;
  }
  cups_ = std::make_unique<CupsConnection>();
  pid_ = getpid();
  credentials_ = std::move(credentials);
  ++opened_;
  return *cups_;
}
