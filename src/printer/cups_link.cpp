#include "printer/cups_link.h"

#include <cups/cups.h>

#include <ctime>
#include <memory>
#include <string>
#include <utility>

#include "helper/log.h"
#include "printer/cups_connection.h"
#include "printer/cups_dests.h"
#include "printer/cups_job.h"
#include "printer/device_kind.h"
#include "printer/job_file.h"
#include "printer/queue_resolution.h"
#include "printer/trace_code.h"

namespace {

// The request's kept connection, or (the print path) one of its own.
struct Scheduler {
  Scheduler(CupsConnection* kept, const std::string& device)
      : owned(kept == nullptr ? std::make_unique<CupsConnection>() : nullptr),
        cups(kept != nullptr ? *kept : *owned),
        queue(cups, device) {}
  std::unique_ptr<CupsConnection> owned;
  CupsConnection& cups;
  QueueDests queue;
};

class CupsLink final : public PrinterLink {
 public:
  explicit CupsLink(CupsConnection* kept) : kept_(kept) {}
  std::optional<int32_t> resolution(const std::string& device) override {
    return queueResolution(scheduler(device).queue, device, /*log=*/true);
  }
  void submit(const TraceCodePrintParams& request, const ByteVector& command,
              PrintOutcome& outcome) override;

 private:
  Scheduler& scheduler(const std::string& device) {
    if (!scheduler_) scheduler_ = std::make_unique<Scheduler>(kept_, device);
    return *scheduler_;
  }
  CupsConnection* kept_;
  std::unique_ptr<Scheduler> scheduler_;
};

// One raw CUPS job through a fresh temporary file that only this process can
// read, removed again before returning.
void CupsLink::submit(const TraceCodePrintParams& request, const ByteVector& command,
                      PrintOutcome& outcome) {
  outcome.result = PrintOutcome::Result::kJobFile;
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
  Scheduler& cups = scheduler(request.device);
  CupsOptions options(cups.queue.queue(), request.copies);

  tracelog::line("[DEBUG] macOS平台: 发送打印任务到CUPS...\n");
  const JobSubmission job =
      submitFile(cups.cups, cups.queue, request.device.c_str(), file.path().c_str(),
                 request.title.c_str(), options.count(), options.options(), request.jobUuid);
  const bool accepted = job.jobId >= 1;
  if (accepted) {
    outcome.result = PrintOutcome::Result::kAccepted;
    outcome.jobId = job.jobId;
    outcome.jobUuid = job.uuid;
    tracelog::line("[DEBUG] macOS平台: 打印任务已提交，ID=%d\n", job.jobId);
  } else {
    classifyFailure(job, cups.cups, &cups.queue, outcome);
    tracelog::line("[DEBUG] macOS平台: 打印失败，错误码=%d\n", job.errorCode);
    if (job.timedOut) {
      cups.cups.logTimeout();
    } else if (job.errorText) {
      tracelog::line("[DEBUG] macOS平台: 错误详情: %s\n", job.errorText->c_str());
    }
  }
  if (options.exists()) {
    tracelog::line("[DEBUG] macOS平台: 释放CUPS选项资源\n");
    options.release();
  }
  tracelog::line("[DEBUG] macOS平台: 删除临时文件\n");
  const bool removed = file.remove();
  if (!accepted) return;
  if (!removed) tracelog::line("[DEBUG] macOS平台: 删除临时文件失败\n");
  tracelog::line("[DEBUG] macOS平台: 打印任务处理完成\n");
}

}  // namespace

void classifyFailure(const JobSubmission& job, CupsConnection& cups, const QueueDests* queue,
                     PrintOutcome& outcome) {
  using Result = PrintOutcome::Result;
  outcome.cupsStatus = job.errorCode;
  if (job.errorText) outcome.cupsMessage = *job.errorText;
  if (job.timedOut) {
    outcome.result = Result::kTimedOut;
  } else if (cups.authRefused()) {
    outcome.result = Result::kAuthentication;
    outcome.withCredentials = cups.hasCredentials();
    outcome.cupsStatus = IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED;
    outcome.cupsMessage = httpStatus(HTTP_STATUS_UNAUTHORIZED);
  } else if (cups.http() == nullptr) {
    outcome.result = cups.encryptionRefused() ? Result::kEncryption : Result::kUnreachable;
    outcome.cupsMessage = cups.connectError();
  } else if (queue != nullptr && queue->answer() == QueueDests::Answer::kNotFound) {
    outcome.result = Result::kNoSuchPrinter;
  } else if (queue != nullptr && queue->answer() != QueueDests::Answer::kFound) {
    // The queue question failed: its answer, not the step skipped after it.
    outcome.result = queue->noAnswer() ? Result::kLost : Result::kRefused;
    outcome.cupsStatus = queue->failureStatus();
    outcome.cupsMessage = queue->failureMessage();
  } else {
    outcome.result = job.noAnswer ? Result::kLost : Result::kRefused;
  }
}

CupsOptions::CupsOptions(const cups_dest_t* queue, int32_t copies) {
  // Raw, not application/octet-stream: CUPS treats that as "detect the type",
  // and a text-like label stream would then be printed as text.
  add("document-format", CUPS_FORMAT_RAW);
  add("job-sheets", "none");
  add("job-priority", "100");
  add("fit-to-page", "false");
  add("print-scaling", "none");
  add("scaling", "100");
  add("orientation-requested", "3");
  add("number-up", "1");
  // An IPP device refuses a media it does not list, and no IPP printer lists
  // this one: the job would be canceled after CUPS accepted it. Such a device
  // prints its loaded labels without being told their size.
  if (!reachedOverIpp(queue)) add("media", "Custom.Transverse");
  if (copies > 0) add("copies", std::to_string(copies).c_str());
}

std::unique_ptr<PrinterLink> cupsLink(CupsConnection* kept) {
  return std::make_unique<CupsLink>(kept);
}

std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params,
                                                 std::optional<int32_t> fixedDpi) {
  CupsConnection* kept = params.connection;
  return makeInstruction(std::move(params), fixedDpi, cupsLink(kept));
}

bool execPrint(TraceCodePrintParams params) {
  std::unique_ptr<BaseInstruction> instruction = makeInstruction(std::move(params), std::nullopt);
  return instruction != nullptr && instruction->exec();
}
