#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One print request, filled from the JavaScript options object. Its field
// names are the option names. It is a plain value: stages that only read it
// take it by reference or have it moved to them.
struct TraceCodePrintParams {
  std::string device;
  std::string instruction = "PCL";  // names no language until the caller sets one
  bool withCutter = false;
  int32_t width = 0;            // millimetres
  int32_t height = 0;           // millimetres
  std::vector<uint8_t> buffer;  // the complete bytes of a BMP file

  // The same bytes read in place instead of copied into `buffer`, for a
  // request that lives only within one synchronous call whose caller keeps
  // them alive (printTraceCode's JavaScript Buffer). Null: use `buffer`.
  const uint8_t* bufferInPlace = nullptr;
  size_t bufferInPlaceSize = 0;

  const uint8_t* imageData() const { return bufferInPlace ? bufferInPlace : buffer.data(); }
  size_t imageSize() const { return bufferInPlace ? bufferInPlaceSize : buffer.size(); }
};

class BaseInstruction;

// The language object named by params.instruction, prepared from the request;
// null when the name is not a supported language. With fixedDpi the
// resolution is taken as given instead of asking CUPS.
std::unique_ptr<BaseInstruction> makeInstruction(TraceCodePrintParams&& params,
                                                 std::optional<int32_t> fixedDpi);

// Prints one request: true when CUPS accepted the job.
bool execPrint(TraceCodePrintParams params);
