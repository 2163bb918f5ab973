#pragma once
// The resolution the print path takes for a queue, from its destinations.

#include <cstdint>
#include <optional>
#include <string>

class QueueDests;

// Every destination named `device` is looked at, in the order cupsGetDests
// lists them; the last one with a readable resolution wins. When none gives
// one, the scheduler's printer-resolution-default for the queue does (a queue
// with a driver reports its PPD's; a raw queue reports none). Empty when
// nothing gives a resolution. With `log`, writes the print path's lines.
std::optional<int32_t> queueResolution(const QueueDests& dests, const std::string& device,
                                       bool log);
