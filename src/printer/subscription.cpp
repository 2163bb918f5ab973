#include "printer/subscription.h"

#include <string_view>

#include "printer/cups_connection.h"

namespace cupssub {
namespace {

constexpr const char* kSchedulerUri = "ipp://localhost/";

// An error status the scheduler itself sent, by what it means here.
Outcome refusal(ipp_status_t status) {
  switch (status) {
    case IPP_STATUS_ERROR_NOT_FOUND:
      return Outcome::NotFound;
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_NOT_POSSIBLE:
    case IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES:
    case IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED:
    case IPP_STATUS_ERROR_BAD_REQUEST:
    case IPP_STATUS_ERROR_TOO_MANY_SUBSCRIPTIONS:
      return Outcome::Refused;
    default:
      return Outcome::Error;
  }
}

// The answer to one request and how it ended; cupsDoRequest takes the request.
struct Exchange {
  IppPtr response;
  Outcome outcome = Outcome::Error;
  cupsstate::Failure failure;
};

Exchange exchange(http_t* http, ipp_t* request) {
  Exchange result;
  result.response.reset(cupsstate::send(http, request, result.failure));
  if (result.response == nullptr) {
    // An HTTP refusal (403 for a policy that denies the operation) is an answer.
    if (!result.failure.noAnswer) result.outcome = refusal(result.failure.status);
    return result;
  }
  const ipp_status_t status = ippGetStatusCode(result.response.get());
  if (status < IPP_STATUS_REDIRECTION_OTHER_SITE) {
    result.outcome = Outcome::Ok;
    return result;
  }
  result.failure.status = status;
  result.outcome = refusal(status);
  result.response.reset();
  return result;
}

ipp_t* request(ipp_op_t operation, const char* uri) {
  ipp_t* ipp = ippNewRequest(operation);
  ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return ipp;
}

void pullMethod(ipp_t* ipp, int count, const char* const* events) {
  ippAddString(ipp, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
  ippAddStrings(ipp, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", count, nullptr,
                events);
}

Created created(Exchange answer) {
  Created result;
  result.outcome = answer.outcome;
  result.failure = std::move(answer.failure);
  if (answer.response == nullptr) return result;
  ipp_t* response = answer.response.get();
  ipp_attribute_t* id = ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER);
  ipp_attribute_t* lease = ippFindAttribute(response, "notify-lease-duration", IPP_TAG_INTEGER);
  result.id = ippGetInteger(id, 0);
  result.lease = ippGetInteger(lease, 0);
  if (result.id <= 0) {
    result.outcome = Outcome::Error;
    result.failure.message = "The answer names no subscription.";
  }
  return result;
}

template <typename Result, typename Fn>
Result guarded(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (...) {
    Result result;
    result.failure.status = IPP_STATUS_ERROR_INTERNAL;
    return result;
  }
}

}  // namespace

Created subscribePrinter(http_t* http, const std::string& name, int32_t lease) noexcept {
  return guarded<Created>([&] {
    char uri[HTTP_MAX_URI];
    if (name.empty() || name.size() > 127 || name.find('\0') != std::string::npos ||
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", name.c_str()) < HTTP_URI_STATUS_OK) {
      Created none;
      none.outcome = Outcome::NotFound;
      return none;
    }
    static const char* const kEvents[] = {"printer-state-changed", "printer-deleted"};
    ipp_t* ipp = request(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, uri);
    pullMethod(ipp, 2, kEvents);
    ippAddInteger(ipp, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", lease);
    return created(exchange(http, ipp));
  });
}

// A job subscription takes no lease: it ends with the job.
Created subscribeJob(http_t* http, int32_t jobId) noexcept {
  return guarded<Created>([&] {
    static const char* const kEvents[] = {"job-state-changed", "job-completed"};
    ipp_t* ipp = request(IPP_OP_CREATE_JOB_SUBSCRIPTIONS, kSchedulerUri);
    ippAddInteger(ipp, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-job-id", jobId);
    pullMethod(ipp, 2, kEvents);
    return created(exchange(http, ipp));
  });
}

// Each event is a group of its own; a printer-deleted or job-completed
// event, or the scheduler's events-complete status, means no more will come.
Notifications notifications(http_t* http, int32_t id, int32_t sequence, bool wait) noexcept {
  return guarded<Notifications>([&] {
    ipp_t* ipp = request(IPP_OP_GET_NOTIFICATIONS, kSchedulerUri);
    ippAddInteger(ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids", id);
    ippAddInteger(ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers", sequence);
    ippAddBoolean(ipp, IPP_TAG_OPERATION, "notify-wait", wait ? 1 : 0);
    Exchange answer = exchange(http, ipp);
    Notifications result;
    result.outcome = answer.outcome;
    result.failure = std::move(answer.failure);
    result.nextSequence = sequence;
    if (answer.response == nullptr) return result;
    ipp_t* response = answer.response.get();
    result.complete = ippGetStatusCode(response) == IPP_STATUS_OK_EVENTS_COMPLETE;
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr;
         attr = ippNextAttribute(response)) {
      if (ippGetGroupTag(attr) != IPP_TAG_EVENT_NOTIFICATION || ippGetName(attr) == nullptr) {
        continue;
      }
      const std::string_view name = ippGetName(attr);
      if (name == "notify-sequence-number") {
        ++result.events;
        if (ippGetInteger(attr, 0) >= result.nextSequence) {
          result.nextSequence = ippGetInteger(attr, 0) + 1;
        }
      } else if (name == "notify-subscribed-event") {
        const char* event = ippGetString(attr, 0, nullptr);
        const std::string_view kind = event != nullptr ? event : "";
        if (kind == "printer-deleted" || kind == "job-completed") result.complete = true;
      }
    }
    return result;
  });
}

Outcome renew(http_t* http, int32_t id, int32_t lease) noexcept {
  try {
    ipp_t* ipp = request(IPP_OP_RENEW_SUBSCRIPTION, kSchedulerUri);
    ippAddInteger(ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    ippAddInteger(ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-lease-duration", lease);
    return exchange(http, ipp).outcome;
  } catch (...) {
    return Outcome::Error;
  }
}

Outcome cancel(http_t* http, int32_t id) noexcept {
  try {
    ipp_t* ipp = request(IPP_OP_CANCEL_SUBSCRIPTION, kSchedulerUri);
    ippAddInteger(ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    return exchange(http, ipp).outcome;
  } catch (...) {
    return Outcome::Error;
  }
}

}  // namespace cupssub
