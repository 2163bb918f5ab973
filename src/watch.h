#pragma once
// _watch({ printer } | { job }, callback): a watcher on its own thread
// (src/printer/watch_loop.h) whose events reach `callback` on the JavaScript
// thread as { type } records: subscribed, polling, changed, notfound,
// failed, closed (always last); polling and failed carry `failure`, a
// failure record as the other calls give one. Answers { stop() }.

#include <node_api.h>

napi_value Watch(napi_env env, napi_callback_info info);
