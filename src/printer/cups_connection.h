#pragma once
// One connection to the CUPS scheduler whose every wait is bounded.
//
// libcups's default connection (CUPS_HTTP_DEFAULT) waits up to a minute for
// each read and retries, so a scheduler that accepts connections and never
// answers holds a caller for minutes. This connection goes to the same server
// (CUPS_SERVER, client.conf, the local socket) with the same encryption, and
// gives up once the scheduler has shown no progress for the timeout: the
// connection itself, and every read and write of every exchange on it. The
// timeout is inactivity-based, so an upload that keeps moving is never cut,
// also past its last write: libcups then waits for the answer while the
// socket's buffers still drain into the scheduler, and a send queue that
// shrinks within a second counts as progress. Encryption (CUPS_ENCRYPTION
// Required or Always) is negotiated within the same bound; a server that
// cannot encrypt is told apart from one that is not there.
//
// Pass http() to the http-taking libcups calls (cupsDoRequest(http, ...),
// cupsCreateDestJob(http, ...), ...). After the first timeout the connection
// is spent: doRequest() refuses at once, and callers skip further exchanges.
//
// A server that asks for a password gets the credentials in scope on the
// constructing thread (src/printer/cups_auth.h) once, or nothing: the
// connection installs its own password callback on its thread, so libcups
// never prompts on a terminal, and a refused or missing password fails the
// exchange at once (authRefused()).

#include <cups/cups.h>

#include <memory>
#include <string>

#include "printer/cups_auth.h"

struct IppDelete {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDelete>;

class CupsConnection {
 public:
  // The timeout in seconds comes from TRACE_LABEL_CUPS_TIMEOUT (a number
  // above 0; at most one day) and is 30 when that is missing or unusable.
  static constexpr const char* kTimeoutVariable = "TRACE_LABEL_CUPS_TIMEOUT";
  static constexpr double kDefaultTimeout = 30.0;
  static double configuredTimeout();

  CupsConnection() : CupsConnection(configuredTimeout()) {}
  explicit CupsConnection(double timeoutSeconds);
  ~CupsConnection();
  CupsConnection(const CupsConnection&) = delete;
  CupsConnection& operator=(const CupsConnection&) = delete;

  // Null when no connection could be made (no scheduler, or none in time).
  http_t* http() const { return http_; }
  // The scheduler did not answer within the timeout, while connecting or in
  // an exchange; what libcups said about it is in lastError().
  bool timedOut() const { return timedOut_; }
  double timeout() const { return timeout_; }
  // Why no connection could be made ("Connection refused"); empty otherwise.
  const std::string& connectError() const { return connectError_; }
  // CUPS_ENCRYPTION or client.conf asked for encryption (Required, Always)
  // and the server could not give it; connectError() says what failed.
  bool encryptionRefused() const { return encryptionRefused_; }
  // The server wanted a password and had none from us, or refused ours.
  bool authRefused() const { return authRefused_; }
  // Credentials were in scope when the connection was made.
  bool hasCredentials() const { return credentials_ != nullptr; }

  // cupsDoRequest on this connection: the response (null on failure, with
  // cupsLastError() set by libcups), or null at once without a connection or
  // after a timeout. Takes the request.
  IppPtr doRequest(ipp_t* request, const char* resource);
  // The last doRequest() got no answer at all (not even a refusal).
  bool lastUnanswered() const { return lastUnanswered_; }
  // An exchange on `http` that gave no IPP response also had no HTTP answer
  // (a refusal such as 403 Forbidden is an answer).
  static bool unanswered(http_t* http, const ipp_t* response) {
    return response == nullptr && httpGetStatus(http) < HTTP_STATUS_BAD_REQUEST;
  }

  // "[DEBUG] macOS平台: CUPS调度程序在N秒内没有响应，已放弃"
  void logTimeout() const;

 private:
  static int onTimeout(http_t* http, void* self);
  int stillWaiting(http_t* http);
  static const char* onPassword(const char* prompt, http_t* http, const char* method,
                                const char* resource, void* self);
  static const char* refuseAll(const char* prompt, http_t* http, const char* method,
                               const char* resource, void* self);

  http_t* http_ = nullptr;
  double timeout_;
  bool timedOut_ = false;
  std::string connectError_;
  bool lastUnanswered_ = false;
  std::shared_ptr<const cupsauth::Credentials> credentials_;
  bool passwordGiven_ = false;
  bool authRefused_ = false;
  bool encryptionRefused_ = false;
};
