#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One print request, filled from the JavaScript options object. Its field
// names are the option names. It is a plain value: stages that only read it
// take it by reference or have it moved to them.
struct TraceCodePrintParams {
  std::string device;
  std::string instruction = "PCL";  // names no language until the caller sets one
  bool withCutter = false;
  int32_t width = 0;   // millimetres
  int32_t height = 0;  // millimetres
  std::vector<uint8_t> buffer;  // the complete bytes of a BMP file
};
