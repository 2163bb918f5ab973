#pragma once
// The CUPS credentials (setCredentials) of each Node environment. A blocking
// call puts its environment's in scope on the calling thread; a job takes
// those in effect when it was queued to the engine's thread.

#include <node_api.h>

#include <memory>

#include "printer/cups_auth.h"

namespace credentials {

// setCredentials({ user, password } | null): a non-empty user name and a
// password, both strings of at most 255 bytes without NUL; null forgets
// them. Anything else throws a TypeError.
napi_value SetCredentials(napi_env env, napi_callback_info info);

// The environment's credentials now; null when none were given.
std::shared_ptr<const cupsauth::Credentials> of(napi_env env);

}  // namespace credentials
