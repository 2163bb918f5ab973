#pragma once
// The language-independent half of a print job: it keeps the request, asks
// its printer link for the printer's resolution, prepares the label image in
// printer dots, and hands whatever the language class generates to the link
// as one raw job. Nothing here knows CUPS: the link that talks to the
// scheduler is printer/cups_link.h, in the library beside this one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "helper/bmp.h"
#include "instruction/resolution.h"
#include "printer/print_request.h"

// How one submission ended, for the calls that report more than a bool.
struct PrintOutcome {
  enum class Result {
    kAccepted,
    kUnreadableImage,  // the image is not a BMP the print path reads
    kLabelTooLarge,    // no label of that many dots, or none its language can carry
    kJobFile,          // the temporary job file could not be made or written
    kNoSuchPrinter,    // the scheduler knows no queue of that name
    kUnreachable,      // no connection to the scheduler
    kEncryption,       // encryption was required and the server could not give it
    kRefused,          // the scheduler refused the job: cupsStatus, cupsMessage
    kTimedOut,         // the scheduler did not answer in time
    kAuthentication,   // the server wanted a password: none was given, or it was refused
    kLost,             // the connection closed before the scheduler answered
  };
  Result result = Result::kUnreadableImage;
  int jobId = 0;
  std::string jobUuid;  // when the request asked for one
  int cupsStatus = 0;
  std::string cupsMessage;
  bool withCredentials = false;  // for kAuthentication: credentials were given
  int32_t dpi = 0;
  int64_t widthDots = 0;
  int64_t heightDots = 0;
  size_t bytes = 0;  // of the command stream

  bool accepted() const { return result == Result::kAccepted; }
};

// Where a print goes: the queue's resolution and the submission of a command
// stream as one raw job. Made and used on the thread that prints.
class PrinterLink {
 public:
  virtual ~PrinterLink() = default;
  // The queue's resolution, with the print path's lines; none when it has none.
  virtual std::optional<int32_t> resolution(const std::string& device) = 0;
  // Submits `command` for the request (device, title, copies, job-uuid) and
  // fills in how it ended.
  virtual void submit(const TraceCodePrintParams& request, const ByteVector& command,
                      PrintOutcome& outcome) = 0;
};

class BaseInstruction {
 public:
  // Resolution given by the caller, or asked of the link when there is none;
  // without a link the object only renders (rendering without printing).
  BaseInstruction(TraceCodePrintParams params, std::optional<int32_t> fixedDpi,
                  std::unique_ptr<PrinterLink> link);
  BaseInstruction(TraceCodePrintParams params, int32_t fixedDpi)
      : BaseInstruction(std::move(params), fixedDpi, nullptr) {}
  virtual ~BaseInstruction();
  BaseInstruction(const BaseInstruction&) = delete;
  BaseInstruction& operator=(const BaseInstruction&) = delete;

  // The whole command stream for the printer; empty when none could be made.
  virtual ByteVector generateCommand();

  // The command for the prepared image: empty without an image, and empty
  // (logged) when the language could make none.
  ByteVector render();

  // Generates and submits, with the print path's lines; says how it ended.
  PrintOutcome submit();

  // submit() as the print path answers: true when CUPS accepted the job.
  bool exec() { return submit().accepted(); }

  int32_t getBaseDot() const { return dotsPerMm(dpi); }
  int32_t mmToDot(int32_t mm) const { return mmToDots(mm, dpi); }
  static int32_t mmToInch(int32_t mm);
  static std::string padWithZeros(int32_t value, int32_t width);

  const ByteVector& preparedImage() const { return bmpData; }
  int32_t resolution() const { return dpi; }

 protected:
  TraceCodePrintParams params;
  int32_t dpi = kDefaultDpi;
  ByteVector bmpData;
  bool defaultsLoaded = false;

 private:
  // The print path's two exchanges with the printer, both through the link:
  // the queue's resolution, and the submission of the command as one raw job.
  void loadPrinterDefaults();
  bool sendCommandToPrinterMacOS(const ByteVector& command);
  void send(const ByteVector& command, PrintOutcome& outcome);
  bool sendCommandToPrinterWindows(const ByteVector& command);

  void prepareImage();
  void prepareImage(ImageView image);
  // A side of the label in dots, in 64 bits so that no millimetre count wraps.
  int64_t labelDots(int32_t mm) const { return int64_t{getBaseDot()} * mm; }

  std::unique_ptr<PrinterLink> link_;
  // Why bmpData is empty, when it is.
  PrintOutcome::Result imageFailure_ = PrintOutcome::Result::kUnreadableImage;

  // bench/native/bench_addon.cpp times the print path stage by stage.
  friend struct BaseInstructionStages;
};
