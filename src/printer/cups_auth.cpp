#include "printer/cups_auth.h"

#include <utility>

namespace cupsauth {
namespace {

std::shared_ptr<const Credentials>& slot() {
  thread_local std::shared_ptr<const Credentials> inScope;
  return inScope;
}

}  // namespace

std::shared_ptr<const Credentials> current() {
  return slot();
}

Scope::Scope(std::shared_ptr<const Credentials> given) : previous_(std::move(slot())) {
  slot() = std::move(given);
}

Scope::~Scope() {
  slot() = std::move(previous_);
}

}  // namespace cupsauth
