#pragma once
// The language-independent half of a print job: it keeps the request, asks
// CUPS for the printer's resolution, prepares the label image in printer dots,
// and submits whatever the language class generates as one raw CUPS job.

#include <cstdint>
#include <memory>
#include <string>
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

class BaseInstruction {
 public:
  // Resolution from CUPS (the print path).
  explicit BaseInstruction(TraceCodePrintParams params);
  // Resolution given by the caller; CUPS is not asked (rendering without printing).
  BaseInstruction(TraceCodePrintParams params, int32_t fixedDpi);
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
  // A command stream made already (a batch of labels), submitted as one raw
  // job with the print path's options, lines and request fields (device,
  // title, copies); no image is read and CUPS is not asked for a resolution.
  static PrintOutcome submitPrepared(TraceCodePrintParams params, const ByteVector& command);

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
  // The print path's two exchanges with the scheduler, on one connection
  // (bounded waits, see printer/cups_connection.h) that the first opens: the
  // queue's resolution, and the submission of the command as one raw job.
  void loadPrinterDefaults();
  bool sendCommandToPrinterMacOS(const ByteVector& command);
  void send(const ByteVector& command, PrintOutcome& outcome);
  bool sendCommandToPrinterWindows(const ByteVector& command);

  struct Prepared {};
  BaseInstruction(TraceCodePrintParams params, Prepared);

  struct Scheduler;
  Scheduler& scheduler();
  void prepareImage();
  void prepareImage(ImageView image);
  // A side of the label in dots, in 64 bits so that no millimetre count wraps.
  int64_t labelDots(int32_t mm) const { return int64_t{getBaseDot()} * mm; }

  std::unique_ptr<Scheduler> scheduler_;
  // Why bmpData is empty, when it is.
  PrintOutcome::Result imageFailure_ = PrintOutcome::Result::kUnreadableImage;

  // bench/native/bench_addon.cpp times the print path stage by stage.
  friend struct BaseInstructionStages;
};
