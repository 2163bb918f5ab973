#pragma once
// One CUPS connection kept between calls, for the app-facing calls of one
// environment: a remote server then costs no new connection (and no new TLS
// handshake or password exchange) per label. The specified calls keep
// opening their own, as they always have.
//
// Owned by one thread (the environment's engine thread) and used only there.
// It is never shared across a fork: a child process that still holds it
// leaves the parent's socket alone and opens its own.

#include <sys/types.h>

#include <memory>

#include "printer/cups_auth.h"

class CupsConnection;

class KeptConnection {
 public:
  KeptConnection();
  ~KeptConnection();
  KeptConnection(const KeptConnection&) = delete;
  KeptConnection& operator=(const KeptConnection&) = delete;

  // The connection for the next call: the kept one while it is ready for a
  // request, otherwise a new one (see reusable() in kept_connection.cpp).
  // Credentials are those in scope on this thread (src/printer/cups_auth.h).
  CupsConnection& get();

  // Connections get() has opened so far.
  unsigned opened() const { return opened_; }

 private:
  std::unique_ptr<CupsConnection> cups_;
  pid_t pid_ = 0;
  std::shared_ptr<const cupsauth::Credentials> credentials_;
  unsigned opened_ = 0;
};
