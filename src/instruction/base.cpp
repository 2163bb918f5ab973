#include "instruction/base.h"

#include <cups/cups.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "helper/label_image.h"
#include "helper/log.h"
#include "printer/cups_connection.h"
#include "printer/cups_dests.h"
#include "printer/cups_job.h"
#include "printer/device_kind.h"
#include "printer/job_file.h"
#include "printer/queue_resolution.h"

namespace {

// Owns the job options until they are released, logged, on the normal paths.
class CupsOptions {
 public:
  CupsOptions() = default;
  ~CupsOptions() { release(); }
  CupsOptions(const CupsOptions&) = delete;
  CupsOptions& operator=(const CupsOptions&) = delete;

  void add(const char* name, const char* value) {
    count_ = cupsAddOption(name, value, count_, &options_);
  }
  bool exists() const { return options_ != nullptr; }
  int count() const { return count_; }
  cups_option_t* options() const { return options_; }
  void release() {
    if (options_ != nullptr) cupsFreeOptions(count_, options_);
    options_ = nullptr;
    count_ = 0;
  }

 private:
  int count_ = 0;
  cups_option_t* options_ = nullptr;
};

}  // namespace

// One connection for the whole print, and what the scheduler said about the
// queue: a second question costs no second connection, and a scheduler that
// did not answer the first is not asked again.
struct BaseInstruction::Scheduler {
  explicit Scheduler(const std::string& device) : queue(cups, device) {}
  CupsConnection cups;
  QueueDests queue;
};

BaseInstruction::Scheduler& BaseInstruction::scheduler() {
  if (!scheduler_) scheduler_ = std::make_unique<Scheduler>(params.device);
  return *scheduler_;
}

BaseInstruction::~BaseInstruction() = default;

BaseInstruction::BaseInstruction(TraceCodePrintParams request) : params(std::move(request)) {
  tracelog::line("[DEBUG] BaseInstruction: 尝试加载打印机默认设置\n");
  loadPrinterDefaults();
  if (defaultsLoaded) {
    tracelog::line("[DEBUG] BaseInstruction: 加载打印机默认设置成功\n");
  } else {
    tracelog::line("[DEBUG] BaseInstruction: 加载打印机默认设置失败，将使用内置默认值\n");
  }
  prepareImage();
}

BaseInstruction::BaseInstruction(TraceCodePrintParams request, int32_t fixedDpi)
    : params(std::move(request)), dpi(fixedDpi), defaultsLoaded(true) {
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

// The walk of queueResolution, with its lines; dpi stays 203 when it finds none.
void BaseInstruction::loadPrinterDefaults() {
  if (const std::optional<int32_t> found =
          queueResolution(scheduler().queue, params.device, /*log=*/true)) {
    dpi = *found;
    defaultsLoaded = true;
  }
}

ByteVector BaseInstruction::generateCommand() {
  tracelog::line("[DEBUG] BaseInstruction: 生成打印指令，子类自行实现\n");
  return {};
}

BaseInstruction::BaseInstruction(TraceCodePrintParams request, Prepared)
    : params(std::move(request)), defaultsLoaded(true) {}

PrintOutcome BaseInstruction::submitPrepared(TraceCodePrintParams params,
                                             const ByteVector& command) {
  BaseInstruction job(std::move(params), Prepared{});
  PrintOutcome outcome;
  outcome.bytes = command.size();
  job.send(command, outcome);
  return outcome;
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

// One raw CUPS job through a fresh temporary file that only this process can
// read, removed again before returning.
void BaseInstruction::send(const ByteVector& command, PrintOutcome& outcome) {
  using Result = PrintOutcome::Result;
  outcome.result = Result::kJobFile;
  JobFile file(jobFileName(std::time(nullptr), nextJobFileNumber()));
  tracelog::line("[DEBUG] macOS平台: 生成临时文件名: %s\n", file.path().c_str());
  if (!file.created()) {
    tracelog::line("[DEBUG] macOS平台: 无法创建临时文件\n");
    return;
  }
  tracelog::line("[DEBUG] macOS平台: 成功创建临时文件\n");
  if (!file.writeAll(command)) {
    tracelog::line("[DEBUG] macOS平台: 写入临时文件失败\n");
    return;  // the file is closed and removed on the way out
  }
  tracelog::line("[DEBUG] macOS平台: 成功写入打印命令到临时文件\n");
  file.close();
  tracelog::line("[DEBUG] macOS平台: 关闭临时文件\n");

  tracelog::line("[DEBUG] macOS平台: 设置CUPS打印选项\n");
  CupsOptions options;
  // Raw, not application/octet-stream: CUPS treats that as "detect the type",
  // and a text-like label stream would then be printed as text.
  options.add("document-format", CUPS_FORMAT_RAW);
  options.add("job-sheets", "none");
  options.add("job-priority", "100");
  options.add("fit-to-page", "false");
  options.add("print-scaling", "none");
  options.add("scaling", "100");
  options.add("orientation-requested", "3");
  options.add("number-up", "1");
  Scheduler& cups = scheduler();
  // An IPP device refuses a media it does not list, and no IPP printer lists
  // this one: the job would be canceled after CUPS accepted it. Such a device
  // prints its loaded labels without being told their size.
  if (!reachedOverIpp(cups.queue.queue())) options.add("media", "Custom.Transverse");
  if (params.copies > 0) options.add("copies", std::to_string(params.copies).c_str());

  tracelog::line("[DEBUG] macOS平台: 发送打印任务到CUPS...\n");
  const JobSubmission job =
      submitFile(cups.cups, cups.queue, params.device.c_str(), file.path().c_str(),
                 params.title.c_str(), options.count(), options.options(), params.jobUuid);
  if (job.jobId < 1) {
    outcome.cupsStatus = job.errorCode;
    if (job.errorText) outcome.cupsMessage = *job.errorText;
    if (job.timedOut) {
      outcome.result = Result::kTimedOut;
    } else if (cups.cups.authRefused()) {
      // The failed step may be a later one that had no queue to go to.
      outcome.result = Result::kAuthentication;
      outcome.withCredentials = cups.cups.hasCredentials();
      outcome.cupsStatus = IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED;
      outcome.cupsMessage = httpStatus(HTTP_STATUS_UNAUTHORIZED);
    } else if (cups.cups.http() == nullptr) {
      outcome.result = cups.cups.encryptionRefused() ? Result::kEncryption : Result::kUnreachable;
      outcome.cupsMessage = cups.cups.connectError();
    } else if (cups.queue.answer() == QueueDests::Answer::kNotFound) {
      outcome.result = Result::kNoSuchPrinter;
    } else if (cups.queue.answer() != QueueDests::Answer::kFound) {
      // The queue question failed: its answer, not the step skipped after it.
      outcome.result = cups.queue.noAnswer() ? Result::kLost : Result::kRefused;
      outcome.cupsStatus = cups.queue.failureStatus();
      outcome.cupsMessage = cups.queue.failureMessage();
    } else if (job.noAnswer) {
      outcome.result = Result::kLost;
    } else {
      outcome.result = Result::kRefused;
    }
    tracelog::line("[DEBUG] macOS平台: 打印失败，错误码=%d\n", job.errorCode);
    if (job.timedOut) {
      cups.cups.logTimeout();
    } else if (job.errorText) {
      tracelog::line("[DEBUG] macOS平台: 错误详情: %s\n", job.errorText->c_str());
    }
    if (options.exists()) {
      tracelog::line("[DEBUG] macOS平台: 释放CUPS选项资源\n");
      options.release();
    }
    tracelog::line("[DEBUG] macOS平台: 删除临时文件\n");
    file.remove();
    return;
  }

  outcome.result = Result::kAccepted;
  outcome.jobId = job.jobId;
  outcome.jobUuid = job.uuid;
  tracelog::line("[DEBUG] macOS平台: 打印任务已提交，ID=%d\n", job.jobId);
  if (options.exists()) {
    tracelog::line("[DEBUG] macOS平台: 释放CUPS选项资源\n");
    options.release();
  }
  tracelog::line("[DEBUG] macOS平台: 删除临时文件\n");
  if (!file.remove()) tracelog::line("[DEBUG] macOS平台: 删除临时文件失败\n");
  tracelog::line("[DEBUG] macOS平台: 打印任务处理完成\n");
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
