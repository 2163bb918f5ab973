#include "printer/cups_connection.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

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

CupsConnection::CupsConnection(double timeoutSeconds) : timeout_(timeoutSeconds) {
  // The server, port and encryption libcups's own default connection uses.
  const int msec = static_cast<int>(std::ceil(timeout_ * 1000));
  errno = 0;
  http_ =
      httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, msec, nullptr);
  if (http_ == nullptr) {
    timedOut_ = errno == ETIMEDOUT;
    return;
  }
  httpSetTimeout(http_, timeout_, &CupsConnection::onTimeout, this);
}

CupsConnection::~CupsConnection() {
  if (http_ != nullptr) httpClose(http_);
}

// Called by libcups when a wait on the connection has seen nothing for the
// timeout; 0 gives up the exchange.
int CupsConnection::onTimeout(http_t* /*http*/, void* self) {
  static_cast<CupsConnection*>(self)->timedOut_ = true;
  return 0;
}

IppPtr CupsConnection::doRequest(ipp_t* request, const char* resource) {
  if (http_ == nullptr || timedOut_) {
    ippDelete(request);
    return nullptr;
  }
  return IppPtr(cupsDoRequest(http_, request, resource));
}

void CupsConnection::logTimeout() const {
  tracelog::line("[DEBUG] macOS平台: CUPS调度程序在%g秒内没有响应，已放弃\n", timeout_);
}
