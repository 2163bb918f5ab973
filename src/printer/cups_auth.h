#pragma once
// The user name and password a thread's CUPS connections answer a server's
// Basic or Digest challenge with. libcups asks a per-thread callback for the
// password; CupsConnection installs its own (never libcups's terminal
// prompt) and takes what is current on its thread when it is made.
//
// Plain C++: the JavaScript side (src/credentials.h) keeps them per
// environment and puts them in scope for the length of a call.

#include <memory>
#include <string>

namespace cupsauth {

struct Credentials {
  std::string user;
  std::string password;
};

// The credentials in scope on this thread; null when none were given.
std::shared_ptr<const Credentials> current();

// Makes `given` (null: none) current on this thread until destroyed.
class Scope {
 public:
  explicit Scope(std::shared_ptr<const Credentials> given);
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  std::shared_ptr<const Credentials> previous_;
};

}  // namespace cupsauth
