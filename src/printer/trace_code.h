#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "printer/print_request.h"

#include "helper/bmp.h"

class BaseInstruction;
class PrinterLink;

// One supported language: its name, how to make its object, and its stream
// function (the stream for a prepared image at a resolution; empty when the
// image does not fit the label).
struct LanguageEntry {
  const char* name;
  std::unique_ptr<BaseInstruction> (*build)(TraceCodePrintParams&&, std::optional<int32_t>,
                                            std::unique_ptr<PrinterLink>);
  ByteVector (*stream)(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image);
};
struct LanguageList {
  const LanguageEntry* first;
  const LanguageEntry* last;
  const LanguageEntry* begin() const { return first; }
  const LanguageEntry* end() const { return last; }
  size_t size() const { return static_cast<size_t>(last - first); }
};
// Every supported language, in the order the module lists them.
LanguageList languages();

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
