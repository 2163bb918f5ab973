#pragma once
// The Promise-based calls that report what happened: each resolves with a
// plain record that index.js turns into its answer or into an Error of
// lib/errors.js. A failure record is { failure: KIND, ... }, KIND one of
// options, language, image, size, jobFile, printer, unreachable, refused,
// timeout.

#include <node_api.h>

// _submitTraceCode(options): { jobId, printer, language, dpi, dots, bytes }.
napi_value SubmitTraceCode(napi_env env, napi_callback_info info);
// _listPrinters(): [printer...]; _getPrinter(name): printer or null.
napi_value ListPrinters(napi_env env, napi_callback_info info);
napi_value GetPrinter(napi_env env, napi_callback_info info);
// _getJob(id): job or null; _cancelJob(id): true, or false when there was nothing to cancel.
napi_value GetJob(napi_env env, napi_callback_info info);
napi_value CancelJob(napi_env env, napi_callback_info info);
// _facts: { languages, maxImageSide, minCopies, maxCopies, defaultDpi,
// finalJobStates }, the language table's names in its order and the bounds
// requests are held to, for the JavaScript side to check and name.
napi_value Facts(napi_env env);
