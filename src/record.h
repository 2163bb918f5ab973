#pragma once
// What the app-facing calls answer with: plain objects, and the failure kind
// lib/api.js reads (submitError) for a submission's outcome.

#include <node_api.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "instruction/base.h"
#include "napi_utils.h"

// A plain JavaScript object, filled a property at a time; statuses are not
// inspected (a failed set leaves the property out).
class Record {
 public:
  explicit Record(napi_env env) : env_(env) { napi_create_object(env, &object_); }
  napi_value value() const { return object_; }

  Record& set(const char* key, napi_value value) {
    napi_set_named_property(env_, object_, key, value);
    return *this;
  }
  Record& text(const char* key, const std::string& value) {
    napi_value v = nullptr;
    napi_create_string_utf8(env_, value.data(), value.size(), &v);
    return set(key, v);
  }
  Record& number(const char* key, double value) {
    napi_value v = nullptr;
    napi_create_double(env_, value, &v);
    return set(key, v);
  }
  Record& flag(const char* key, bool value) { return set(key, MakeBoolean(env_, value)); }
  Record& texts(const char* key, const std::vector<std::string>& values) {
    napi_value array = nullptr;
    napi_create_array_with_length(env_, values.size(), &array);
    for (size_t i = 0; i < values.size(); ++i) {
      napi_value v = nullptr;
      napi_create_string_utf8(env_, values[i].data(), values[i].size(), &v);
      napi_set_element(env_, array, static_cast<uint32_t>(i), v);
    }
    return set(key, array);
  }
  // A Date from seconds since the epoch, or null.
  Record& time(const char* key, const std::optional<int64_t>& seconds) {
    napi_value v = nullptr;
    if (seconds) {
      napi_create_date(env_, static_cast<double>(*seconds) * 1000, &v);
    } else {
      napi_get_null(env_, &v);
    }
    return set(key, v);
  }

 private:
  napi_env env_;
  napi_value object_ = nullptr;
};

// The kind of a failed submission; null when it was accepted.
inline const char* failureKind(PrintOutcome::Result result) {
  using Result = PrintOutcome::Result;
  switch (result) {
    case Result::kAccepted:
      return nullptr;
    case Result::kUnreadableImage:
      return "image";
    case Result::kLabelTooLarge:
      return "size";
    case Result::kJobFile:
      return "jobFile";
    case Result::kNoSuchPrinter:
      return "printer";
    case Result::kUnreachable:
      return "unreachable";
    case Result::kEncryption:
      return "encryption";
    case Result::kRefused:
      return "refused";
    case Result::kTimedOut:
      return "timeout";
    case Result::kAuthentication:
      return "authentication";
    case Result::kLost:
      return "lost";
  }
  return "refused";
}
