#include "printer/cups_dests.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "printer/cups_connection.h"

// What follows mirrors libcups 2.4 (cups/dest.c: _cupsGetDests, cups_make_string,
// cups_get_dests, cups_enum_dests) for one queue. test/cpp/cups/dests_test.cpp
// compares the result with cupsGetDests.

namespace {

// The attributes cupsGetDests asks the scheduler for, and the resolution.
const char* const kRequested[] = {
    "auth-info-required",
    "device-uri",
    "job-sheets-default",
    "marker-change-time",
    "marker-colors",
    "marker-high-levels",
    "marker-levels",
    "marker-low-levels",
    "marker-message",
    "marker-names",
    "marker-types",
    "printer-commands",
    "printer-defaults",
    "printer-info",
    "printer-is-accepting-jobs",
    "printer-is-shared",
    "printer-is-temporary",
    "printer-location",
    "printer-make-and-model",
    "printer-mandatory-job-attributes",
    "printer-name",
    "printer-state",
    "printer-state-change-time",
    "printer-state-reasons",
    "printer-type",
    "printer-uri-supported",
    "printer-resolution-default",
};

// The printer description attributes cupsGetDests keeps under their own name.
const char* const kDescription[] = {
    "auth-info-required",     "device-uri",
    "marker-change-time",     "marker-colors",
    "marker-high-levels",     "marker-levels",
    "marker-low-levels",      "marker-message",
    "marker-names",           "marker-types",
    "printer-commands",       "printer-info",
    "printer-is-shared",      "printer-is-temporary",
    "printer-make-and-model", "printer-mandatory-job-attributes",
    "printer-state",          "printer-state-change-time",
    "printer-type",           "printer-is-accepting-jobs",
    "printer-location",       "printer-state-reasons",
    "printer-uri-supported",
};

// libcups compares names and instances in ASCII, ignoring case.
bool sameName(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const auto la = static_cast<unsigned char>(*a), lb = static_cast<unsigned char>(*b);
    const int ca = la >= 'A' && la <= 'Z' ? la + 32 : la;
    const int cb = lb >= 'A' && lb <= 'Z' ? lb + 32 : lb;
    if (ca != cb) return false;
  }
  return *a == *b;
}

bool oneOf(const char* name, const char* const* list, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(name, list[i]) == 0) return true;
  }
  return false;
}

// An attribute's values as one option value: cups_make_string, line for line.
const char* optionValue(ipp_attribute_t* attr, char* buffer, size_t size) {
  const ipp_tag_t tag = ippGetValueTag(attr);
  const int count = ippGetCount(attr);
  const bool numeric = tag == IPP_TAG_INTEGER || tag == IPP_TAG_ENUM || tag == IPP_TAG_BOOLEAN ||
                       tag == IPP_TAG_RANGE;
  if (count == 1 && !numeric) return ippGetString(attr, 0, nullptr);

  char* const end = buffer + size - 1;
  char* ptr = buffer;
  *ptr = '\0';
  for (int i = 0; i < count && ptr < end; ++i) {
    if (i > 0) *ptr++ = ',';
    const auto room = static_cast<size_t>(end - ptr + 1);
    switch (tag) {
      case IPP_TAG_INTEGER:
      case IPP_TAG_ENUM:
        std::snprintf(ptr, room, "%d", ippGetInteger(attr, i));
        break;
      case IPP_TAG_BOOLEAN:
        std::snprintf(ptr, room, "%s", ippGetBoolean(attr, i) ? "true" : "false");
        break;
      case IPP_TAG_RANGE: {
        int upper = 0;
        const int lower = ippGetRange(attr, i, &upper);
        if (lower == upper) {
          std::snprintf(ptr, room, "%d", lower);
        } else {
          std::snprintf(ptr, room, "%d-%d", lower, upper);
        }
        break;
      }
      default: {
        const char* value = ippGetString(attr, i, nullptr);
        for (; value != nullptr && *value != '\0' && ptr < end;) {
          if (std::strchr(" \t\n\\'\"", *value) != nullptr) {
            if (ptr >= end - 1) break;
            *ptr++ = '\\';
          }
          *ptr++ = *value++;
        }
        *ptr = '\0';
        break;
      }
    }
    ptr += std::strlen(ptr);
  }
  *ptr = '\0';
  return buffer;
}

// The scheduler's attributes as the options cupsGetDests gives a destination.
// One printer's run of attributes, from `attr` (the response's current one)
// to the first that is not a printer attribute, which is returned in `end`.
int serverOptions(ipp_t* response, ipp_attribute_t* attr, const char** printerName, int* resolution,
                  cups_option_t** options, ipp_attribute_t** end) {
  int count = 0;
  *options = nullptr;
  char value[2048];
  while (attr != nullptr && ippGetGroupTag(attr) != IPP_TAG_PRINTER)
    attr = ippNextAttribute(response);
  for (; attr != nullptr && ippGetGroupTag(attr) == IPP_TAG_PRINTER;
       attr = ippNextAttribute(response)) {
    const char* name = ippGetName(attr);
    const ipp_tag_t tag = ippGetValueTag(attr);
    if (name == nullptr) continue;
    if (tag == IPP_TAG_RESOLUTION && std::strcmp(name, "printer-resolution-default") == 0) {
      int yres = 0;
      ipp_res_t units = IPP_RES_PER_INCH;
      const int xres = ippGetResolution(attr, 0, &yres, &units);
      *resolution = dpiOfResolution(xres, units);
      continue;
    }
    if (tag != IPP_TAG_INTEGER && tag != IPP_TAG_ENUM && tag != IPP_TAG_BOOLEAN &&
        tag != IPP_TAG_TEXT && tag != IPP_TAG_TEXTLANG && tag != IPP_TAG_NAME &&
        tag != IPP_TAG_NAMELANG && tag != IPP_TAG_KEYWORD && tag != IPP_TAG_RANGE &&
        tag != IPP_TAG_URI) {
      continue;
    }
    const char* suffix = nullptr;
    if (oneOf(name, kDescription, sizeof kDescription / sizeof *kDescription)) {
      count = cupsAddOption(name, optionValue(attr, value, sizeof value), count, options);
    } else if (std::strcmp(name, "printer-name") == 0 && tag == IPP_TAG_NAME) {
      *printerName = ippGetString(attr, 0, nullptr);
    } else if (std::strncmp(name, "notify-", 7) != 0 &&
               std::strncmp(name, "print-quality-", 14) != 0 &&
               (tag == IPP_TAG_BOOLEAN || tag == IPP_TAG_ENUM || tag == IPP_TAG_INTEGER ||
                tag == IPP_TAG_KEYWORD || tag == IPP_TAG_NAME || tag == IPP_TAG_RANGE) &&
               (suffix = std::strstr(name, "-default")) != nullptr) {
      // A job default: the option is the attribute's name without "-default".
      const std::string option(name, static_cast<size_t>(suffix - name));
      if (!sameName(option.c_str(), "media") ||
          cupsGetOption("media", count, *options) == nullptr) {
        count =
            cupsAddOption(option.c_str(), optionValue(attr, value, sizeof value), count, options);
      }
    }
  }
  *end = attr;
  return count;
}

// The two lpoptions files libcups reads, system first. Like libcups, a
// setuid or setgid process ignores CUPS_SERVERROOT and HOME.
std::vector<std::string> lpoptionsFiles() {
  const bool secure = (geteuid() != getuid() && getuid() != 0) || getegid() != getgid();
  const char* root = secure ? nullptr : std::getenv("CUPS_SERVERROOT");
  std::vector<std::string> files{std::string(root != nullptr ? root : "/etc/cups") + "/lpoptions"};
  const char* home = secure ? nullptr : std::getenv("HOME");
  std::string homeDir;
  if (home != nullptr) {
    homeDir = home;
  } else {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[16384];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
      homeDir = found->pw_dir;
    }
  }
  if (home != nullptr || !homeDir.empty()) files.push_back(homeDir + "/.cups/lpoptions");
  return files;
}

// The "Dest" and "Default" lines of one lpoptions file that name this queue
// (every queue: null), added as cupsGetDests adds them: cupsAddDest (an
// instance copies its queue's options so far) then the line's options.
void readLpoptions(const std::string& file, const char* queue, int* count, cups_dest_t** dests) {
  cups_file_t* fp = cupsFileOpen(file.c_str(), "r");
  if (fp == nullptr) return;
  char line[8192];
  char* rest = nullptr;
  int lineNumber = 0;
  while (cupsFileGetConf(fp, line, sizeof line, &rest, &lineNumber) != nullptr) {
    if ((!sameName(line, "dest") && !sameName(line, "default")) || rest == nullptr) continue;
    char* name = rest;
    while (!std::isspace(*rest & 255) && *rest != '\0' && *rest != '/') ++rest;
    char* instance = nullptr;
    if (*rest == '/') {
      *rest++ = '\0';
      instance = rest;
      while (!std::isspace(*rest & 255) && *rest != '\0') ++rest;
    }
    if (*rest != '\0') *rest++ = '\0';
    if (queue != nullptr && !sameName(name, queue)) continue;
    *count = cupsAddDest(name, instance, *count, dests);
    cups_dest_t* dest = cupsGetDest(name, instance, *count, *dests);
    if (dest == nullptr) break;
    dest->num_options = cupsParseOptions(rest, dest->num_options, &dest->options);
  }
  cupsFileClose(fp);
}

}  // namespace

int32_t dpiOfResolution(int xres, ipp_res_t units) {
  const int64_t dpi = units == IPP_RES_PER_CM ? (int64_t{xres} * 254 + 50) / 100 : xres;
  return dpi > 0 && dpi <= INT32_MAX ? static_cast<int32_t>(dpi) : 0;
}

QueueDests::QueueDests(CupsConnection& cups, const std::string& name) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                sizeof kRequested / sizeof *kRequested, nullptr, kRequested);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  char uri[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                   "/printers/%s", name.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  const IppPtr response = cups.doRequest(request, "/");
  if (cups.timedOut()) {
    answer_ = Answer::kTimedOut;
    return;
  }
  const char* text = cupsLastErrorString();
  failureStatus_ = cupsLastError();
  failureMessage_ = text != nullptr ? text : "";
  noAnswer_ = cups.lastUnanswered();
  if (response == nullptr) return;
  // Only the scheduler's own word makes a queue missing.
  if (ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_FOUND) answer_ = Answer::kNotFound;
  build(response.get(), ippFirstAttribute(response.get()), [this](const char* printerName) {
    for (const std::string& file : lpoptionsFiles()) {
      readLpoptions(file, printerName, &lpoptionsCount_, &lpoptions_);
    }
  });
}

template <typename Lpoptions>
ipp_attribute_t* QueueDests::build(ipp_t* response, ipp_attribute_t* first, Lpoptions&& lpoptions) {
  const char* printerName = nullptr;
  cups_option_t* options = nullptr;
  ipp_attribute_t* end = nullptr;
  const int optionCount =
      serverOptions(response, first, &printerName, &resolutionDefault_, &options, &end);
  if (printerName == nullptr) {
    cupsFreeOptions(optionCount, options);
    resolutionDefault_ = 0;
    return end;
  }
  failureStatus_ = IPP_STATUS_OK;
  failureMessage_.clear();
  cupsAddDest(printerName, nullptr, 0, &server_);
  server_->num_options = optionCount;
  server_->options = options;
  answer_ = Answer::kFound;

  lpoptions(printerName);
  if (lpoptionsCount_ == 0) {
    list_ = server_;
    listCount_ = 1;
    return end;
  }
  // The scheduler's options go under the lpoptions ones.
  for (int i = 0; i < lpoptionsCount_; ++i) {
    cups_dest_t& dest = lpoptions_[i];
    for (int k = 0; k < optionCount; ++k) {
      if (cupsGetOption(options[k].name, dest.num_options, dest.options) == nullptr) {
        dest.num_options =
            cupsAddOption(options[k].name, options[k].value, dest.num_options, &dest.options);
      }
    }
  }
  list_ = lpoptions_;
  listCount_ = lpoptionsCount_;
  return end;
}

std::vector<std::unique_ptr<QueueDests>> QueueDests::listed(ipp_t* listing) {
  struct Lines {
    ~Lines() { cupsFreeDests(count, dests); }
    int count = 0;
    cups_dest_t* dests = nullptr;
  } every;
  for (const std::string& file : lpoptionsFiles()) {
    readLpoptions(file, nullptr, &every.count, &every.dests);
  }
  std::vector<std::unique_ptr<QueueDests>> out;
  ipp_attribute_t* attr = ippFirstAttribute(listing);
  while (attr != nullptr) {
    if (ippGetGroupTag(attr) != IPP_TAG_PRINTER || ippGetName(attr) == nullptr) {
      attr = ippNextAttribute(listing);
      continue;
    }
    std::unique_ptr<QueueDests> queue(new QueueDests());
    QueueDests& q = *queue;
    attr = q.build(listing, attr, [&](const char* printerName) {
      for (int i = 0; i < every.count; ++i) {
        if (sameName(every.dests[i].name, printerName)) {
          q.lpoptionsCount_ = cupsCopyDest(&every.dests[i], q.lpoptionsCount_, &q.lpoptions_);
        }
      }
      // cupsCopyDest gives a line without options a zero-size block of
      // options, which cupsFreeDests (seeing none) never frees.
      for (int i = 0; i < q.lpoptionsCount_; ++i) {
        cups_dest_t& copy = q.lpoptions_[i];
        if (copy.num_options == 0 && copy.options != nullptr) {
          std::free(copy.options);
          copy.options = nullptr;
        }
      }
    });
    if (q.answer_ == Answer::kFound) out.push_back(std::move(queue));
  }
  return out;
}

QueueDests::~QueueDests() {
  cupsFreeDests(lpoptionsCount_, lpoptions_);
  cupsFreeDests(server_ != nullptr ? 1 : 0, server_);
}
