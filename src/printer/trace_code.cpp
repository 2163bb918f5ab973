#include "printer/trace_code.h"

#include <memory>
#include <utility>

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

// The only place that knows the supported printer languages, in the order
// the module lists them (_facts.languages). Names match exactly: case, blanks and
// punctuation all count. fuzz/CMakeLists.txt and fuzz/seeds.js read the
// names from these rows: one row a line.
const LanguageEntry kLanguages[] = {
    {"TSPL", build<TSPLInstruction>, tsplCommand},
    {"ZPL", build<ZPLInstruction>, zplCommand},
    {"ESC/POS", build<ESCPOSInstruction>, escPosCommand},
    {"CPCL", build<CPCLInstruction>, cpclCommand},
    {"PPLA", build<PPLAInstruction>, pplaCommand},
    {"DPL", build<DPLInstruction>, dplCommand},
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

LanguageList languages() {
  return {kLanguages, kLanguages + sizeof kLanguages / sizeof kLanguages[0]};
}

std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params, int32_t dpi) {
  return makeInstruction(std::move(params), dpi, nullptr);
}
