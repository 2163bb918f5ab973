#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "printer/print_request.h"

class BaseInstruction;
class PrinterLink;

// The language object named by params.instruction, prepared from the request;
// null when the name is not a supported language. With fixedDpi the
// resolution is taken as given, otherwise the link is asked for it; submit()
// goes through the link, and an object without one only renders.
std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params,
                                                 std::optional<int32_t> fixedDpi,
                                                 std::unique_ptr<PrinterLink> link);
// Rendering without printing, at the resolution given.
std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params, int32_t dpi);

// Defined with the CUPS part (printer/cups_link.cpp): the object above with a
// link to the scheduler, and one request printed through it (true when CUPS
// accepted the job).
std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params,
                                                 std::optional<int32_t> fixedDpi);
bool execPrint(TraceCodePrintParams params);
