#include "printer/trace_code.h"

#include "instruction/cpcl.h"
#include "instruction/dpl.h"
#include "instruction/esc_pos.h"
#include "instruction/ppla.h"
#include "instruction/tspl.h"
#include "instruction/zpl.h"

namespace {

template <typename Language>
std::unique_ptr<BaseInstruction> build(TraceCodePrintParams&& params,
                                       std::optional<int32_t> fixedDpi,
                                       std::unique_ptr<PrinterLink> link) {
  return std::make_unique<Language>(std::move(params), fixedDpi, std::move(link));
}

struct LanguageEntry {
  const char* name;
  std::unique_ptr<BaseInstruction> (*build)(TraceCodePrintParams&&, std::optional<int32_t>,
                                            std::unique_ptr<PrinterLink>);
};

// The only place that knows the supported printer languages. Names match
// exactly: case, blanks and punctuation all count.
const LanguageEntry kLanguages[] = {
    {"TSPL", build<TSPLInstruction>},      {"PPLA", build<PPLAInstruction>},
    {"DPL", build<DPLInstruction>},        {"ZPL", build<ZPLInstruction>},
    {"ESC/POS", build<ESCPOSInstruction>}, {"CPCL", build<CPCLInstruction>},
};

}  // namespace

std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params,
                                                 std::optional<int32_t> fixedDpi,
                                                 std::unique_ptr<PrinterLink> link) {
  for (const LanguageEntry& language : kLanguages) {
    if (params.instruction == language.name) {
      return language.build(std::move(params), fixedDpi, std::move(link));
    }
  }
  return nullptr;
}

std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params, int32_t dpi) {
  return makeInstruction(std::move(params), dpi, nullptr);
}
