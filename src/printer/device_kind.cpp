#include "printer/device_kind.h"

#include <strings.h>
#include <cstring>

namespace {

const char* const kIppSchemes[] = {"ipp", "ipps", "ippusb", "dnssd", "implicitclass"};

bool hasIppScheme(const char* uri) {
  const char* colon = std::strchr(uri, ':');
  if (colon == nullptr) return false;
  const size_t length = static_cast<size_t>(colon - uri);
  for (const char* scheme : kIppSchemes) {
    if (std::strlen(scheme) == length && strncasecmp(uri, scheme, length) == 0) return true;
  }
  return false;
}

}  // namespace

// A driverless queue made by lpadmin -m everywhere or by cups-browsed says so
// in its make and model, whatever its device URI looks like.
bool reachedOverIpp(const cups_dest_t* queue) {
  if (queue == nullptr) return false;
  const char* uri = cupsGetOption("device-uri", queue->num_options, queue->options);
  if (uri != nullptr && hasIppScheme(uri)) return true;
  const char* model = cupsGetOption("printer-make-and-model", queue->num_options, queue->options);
  return model != nullptr && (std::strstr(model, "IPP Everywhere") != nullptr ||
                              strcasestr(model, "driverless") != nullptr);
}
