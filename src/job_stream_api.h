#pragma once
// The calls behind submitTraceCodes' streamed job (lib/api.js):
//   _openJobStream({ device, title, copies }, onEvent) -> Promise of
//     { handle, jobId, printer } or a failure record as _submitPrepared's;
//     onEvent(written, end) afterwards: parts written so far, and once, at
//     the end, { jobId } or { canceled: true } or a failure record.
//   _jobStreamWrite(handle, bytes): queues a copy of the bytes.
//   _jobStreamEnd(handle, cancel): no more parts; cancel abandons the upload.

#include <node_api.h>

napi_value OpenJobStream(napi_env env, napi_callback_info info);
napi_value JobStreamWrite(napi_env env, napi_callback_info info);
napi_value JobStreamEnd(napi_env env, napi_callback_info info);
