#include "printer/queue_resolution.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "helper/log.h"
#include "printer/cups_dests.h"

std::optional<int32_t> queueResolution(const QueueDests& dests, const std::string& device,
                                       bool log) {
  std::optional<int32_t> found;
  for (const cups_dest_t& dest : dests) {
    if (std::strcmp(dest.name, device.c_str()) != 0) continue;
    const char* value = cupsGetOption("printer-resolution-default", dest.num_options, dest.options);
    if (value == nullptr) continue;
    int x = 0;
    int y = 0;
    if (std::sscanf(value, "%dx%d", &x, &y) == 2 || std::sscanf(value, "%d", &x) == 1) {
      found = x;
      if (log) tracelog::line("[DEBUG] BaseInstruction: macOS平台，成功获取DPI: %d\n", x);
      continue;
    }
    const char* resolution = cupsGetOption("Resolution", dest.num_options, dest.options);
    if (resolution == nullptr) continue;
    const int d = std::atoi(resolution);
    if (d >= 1) {
      found = d;
      if (log) {
        tracelog::line("[DEBUG] BaseInstruction: macOS平台，通过Resolution选项获取DPI: %d\n", d);
      }
    } else if (log) {
      tracelog::line("[DEBUG] BaseInstruction: macOS平台，通过Resolution选项获取DPI失败\n");
    }
  }
  if (!found && dests.resolutionDefault() > 0) {
    found = dests.resolutionDefault();
    if (log) tracelog::line("[DEBUG] BaseInstruction: macOS平台，成功获取DPI: %d\n", *found);
  }
  return found;
}
