#pragma once
// The calls behind submitTraceCodes' streamed job (lib/api.js):
//   _openJobStream({ device, title, copies }, onEvent) -> Promise of
//     { handle, jobId, printer } or a failure record as _submitTraceCode's;
//     onEvent(written, end, prepared, failedAt) afterwards: labels written
//     and made so far, the index of a label that could not be made (or -1),
//     and once, at the end, { jobId } or { canceled: true } or a failure record.
//   _jobStreamPrepare(handle, label, dpi, copies): the next label, read as
//     renderTraceCode reads its options; false for options it refuses.
//   _jobStreamEnd(handle, cancel): no more labels; cancel abandons the upload.

#include <node_api.h>

napi_value OpenJobStream(napi_env env, napi_callback_info info);
napi_value JobStreamPrepare(napi_env env, napi_callback_info info);
napi_value JobStreamEnd(napi_env env, napi_callback_info info);
