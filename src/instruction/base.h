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

  // Generates and submits; false when there is no image, no command, or CUPS refused the job.
  bool exec();

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
  bool sendCommandToPrinterWindows(const ByteVector& command);

  struct Scheduler;
  Scheduler& scheduler();
  void prepareImage();
  void prepareImage(ImageView image);

  std::unique_ptr<Scheduler> scheduler_;

  // bench/native/bench_addon.cpp times the print path stage by stage.
  friend struct BaseInstructionStages;
};
