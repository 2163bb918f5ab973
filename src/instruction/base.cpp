#include "instruction/base.h"

#include <cstdint>
#include <stdexcept>
#include <utility>

#include "helper/label_image.h"
#include "helper/log.h"

BaseInstruction::~BaseInstruction() = default;

BaseInstruction::BaseInstruction(TraceCodePrintParams request, std::optional<int32_t> fixedDpi,
                                 std::unique_ptr<PrinterLink> link)
    : params(std::move(request)), link_(std::move(link)) {
  if (fixedDpi) {
    dpi = *fixedDpi;
    defaultsLoaded = true;
  } else {
    tracelog::line("[DEBUG] BaseInstruction: 尝试加载打印机默认设置\n");
    loadPrinterDefaults();
    if (defaultsLoaded) {
      tracelog::line("[DEBUG] BaseInstruction: 加载打印机默认设置成功\n");
    } else {
      tracelog::line("[DEBUG] BaseInstruction: 加载打印机默认设置失败，将使用内置默认值\n");
    }
  }
  prepareImage();
}

// A lent image is read where its owner lends it (the JavaScript thread for
// the async calls); one that is gone leaves bmpData empty and nothing is sent.
void BaseInstruction::prepareImage() {
  if (params.loan == nullptr) return prepareImage(params.image);
  const int64_t width = labelDots(params.width);
  const int64_t height = labelDots(params.height);
  const uint64_t dots = width > 0 && height > 0 ? uint64_t(width) * uint64_t(height) : 0;
  params.loan->lend(dots, [this](ImageView image) { prepareImage(image); });
}

// Converts the request's BMP and scales it to the label in dots, in one pass
// that reads only the pixels the label keeps; the log is that of conversion
// then resizing. Any failure leaves bmpData empty, which makes exec answer
// false without more work.
void BaseInstruction::prepareImage(ImageView image) {
  tracelog::line("[DEBUG] BaseInstruction: 开始准备准备8bit\n");
  try {
    LabelImageSource source;
    if (!source.open(image.data, image.size)) {
      tracelog::line("[DEBUG] BaseInstruction: BMP转换8bit失败，返回空数据\n");
      return;
    }
    tracelog::line("[DEBUG] BaseInstruction: BMP转换8bit成功\n");
    imageFailure_ = PrintOutcome::Result::kLabelTooLarge;  // whatever fails from here on

    // A label whose dot count leaves the 32-bit range cannot be resized.
    const int64_t width = labelDots(params.width);
    const int64_t height = labelDots(params.height);
    ByteVector resized;
    if (width >= INT32_MIN && width <= INT32_MAX && height >= INT32_MIN && height <= INT32_MAX) {
      resized = source.resize(static_cast<int32_t>(width), static_cast<int32_t>(height));
    }
    if (resized.empty()) {
      tracelog::line("[DEBUG] BaseInstruction: BMP调整尺寸失败，返回空数据\n");
      return;
    }
    bmpData = std::move(resized);
    tracelog::line("[DEBUG] BaseInstruction: BMP调整尺寸成功\n");
  } catch (const std::length_error& e) {
    tracelog::line("[ERROR] BaseInstruction: 发生长度错误异常: %s\n", e.what());
  } catch (const std::exception& e) {
    tracelog::line("[ERROR] BaseInstruction: 发生异常: %s\n", e.what());
  }
}

// The link's walk of the queue's destinations; dpi stays 203 when it finds none.
void BaseInstruction::loadPrinterDefaults() {
  if (link_ == nullptr) return;
  if (const std::optional<int32_t> found = link_->resolution(params.device)) {
    dpi = *found;
    defaultsLoaded = true;
  }
}

ByteVector BaseInstruction::generateCommand() {
  tracelog::line("[DEBUG] BaseInstruction: 生成打印指令，子类自行实现\n");
  return {};
}

ByteVector BaseInstruction::render() {
  if (bmpData.empty()) return {};
  ByteVector command = generateCommand();
  if (command.empty()) tracelog::line("[DEBUG] BaseInstruction: 生成打印指令失败\n");
  return command;
}

PrintOutcome BaseInstruction::submit() {
  PrintOutcome outcome;
  outcome.dpi = dpi;
  outcome.widthDots = labelDots(params.width);
  outcome.heightDots = labelDots(params.height);
  if (bmpData.empty()) {
    outcome.result = imageFailure_;
    return outcome;
  }
  const ByteVector command = render();
  if (command.empty()) {
    outcome.result = PrintOutcome::Result::kLabelTooLarge;
    return outcome;
  }
  outcome.bytes = command.size();
  send(command, outcome);
  return outcome;
}

bool BaseInstruction::sendCommandToPrinterMacOS(const ByteVector& command) {
  PrintOutcome outcome;
  send(command, outcome);
  return outcome.accepted();
}

// One raw job through the link; a render-only object has none to send to.
void BaseInstruction::send(const ByteVector& command, PrintOutcome& outcome) {
  if (link_ == nullptr) {
    outcome.result = PrintOutcome::Result::kUnreachable;
    return;
  }
  link_->submit(params, command, outcome);
}

// Submission on Windows is not available in this build.
bool BaseInstruction::sendCommandToPrinterWindows(const ByteVector& /*command*/) {
  return false;
}

int32_t BaseInstruction::mmToInch(int32_t mm) {
  return static_cast<int32_t>(static_cast<float>(mm) / 25.4f);
}

// Zeros go in front of the whole text, a minus sign included: (-5, 4) is "00-5".
std::string BaseInstruction::padWithZeros(int32_t value, int32_t width) {
  std::string text = std::to_string(value);
  if (width > 0 && text.size() < static_cast<size_t>(width)) {
    text.insert(0, static_cast<size_t>(width) - text.size(), '0');
  }
  return text;
}
