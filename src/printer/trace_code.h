#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "printer/print_request.h"

class BaseInstruction;

// The language object named by params.instruction, prepared from the request;
// null when the name is not a supported language. With fixedDpi the
// resolution is taken as given instead of asking CUPS.
std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params,
                                                 std::optional<int32_t> fixedDpi);

// Prints one request: true when CUPS accepted the job.
bool execPrint(TraceCodePrintParams params);
