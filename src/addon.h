#pragma once
// Everything the add-on keeps for one Node environment (the main thread or a
// worker), in one place: Node-API instance data, made on first use and freed
// with the environment. Only that environment's JavaScript thread touches it.
//
// The engine (src/engine.h) keeps its own part jointly with its thread, and
// that thread keeps the app-facing calls' CUPS connection
// (src/printer/kept_connection.h): both may outlive the environment by the
// job that is running when it goes.

#include <node_api.h>

#include <memory>

#include "printer/cups_auth.h"

namespace engine {
struct Shared;
}

namespace addon {

struct State {
  // setLogger: a function gets the lines; none and silent drops them; none
  // and not silent writes them to standard output.
  napi_ref logger = nullptr;
  bool silent = false;
  // setCredentials; null when none were given.
  std::shared_ptr<const cupsauth::Credentials> credentials;
  // Started by the first Promise-returning call.
  std::shared_ptr<engine::Shared> engine;
};

// The environment's state; null only when it could not be made.
State* of(napi_env env);

// For a thread that may outlive an environment which unloads the add-on (a
// worker thread that was the only one to load it): keeps the code mapped.
void pinLibrary();

}  // namespace addon
