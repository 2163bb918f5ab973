#include "printer/query.h"

#include <cstdlib>
#include <cstring>

#include "helper/log.h"
#include "printer/cups_connection.h"
#include "printer/cups_dests.h"

namespace {

// The first destination of that name in list order; later instances are not looked at.
const cups_dest_t* findDestination(const QueueDests& dests, const std::string& name) {
  for (const cups_dest_t& dest : dests) {
    if (std::strcmp(dest.name, name.c_str()) == 0) return &dest;
  }
  return nullptr;
}

}  // namespace

bool printerIsConnected(std::string printerName) {
  bool connected = false;
  {
    CupsConnection cups;
    const QueueDests dests(cups, printerName);
    const cups_dest_t* dest = findDestination(dests, printerName);
    if (dests.answer() == QueueDests::Answer::kTimedOut) {
      cups.logTimeout();
    } else if (dest == nullptr) {
      tracelog::line("[DEBUG] macOS平台: 未找到匹配的打印机\n");
    } else {
      tracelog::line("[DEBUG] macOS平台: 找到匹配的打印机\n");
      const char* stateText = cupsGetOption("printer-state", dest->num_options, dest->options);
      int state = 0;
      if (stateText != nullptr) {
        state = std::atoi(stateText);
        tracelog::line("[DEBUG] macOS平台: 使用cupsGetOption获取到打印机状态 = %d\n", state);
      }
      // Idle (3) and processing (4) need no comment; anything else is still
      // taken as connected, since the queue exists and will hold the job.
      if (stateText == nullptr || (state != 3 && state != 4)) {
        tracelog::line("[DEBUG] macOS平台: 无法获取打印机状态，默认设为已连接\n");
      }
      connected = true;
    }
  }  // the connection is closed before the final line
  tracelog::line("[DEBUG] 最终连接状态: isConnected = %s\n", connected ? "true" : "false");
  return connected;
}
