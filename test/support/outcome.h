#pragma once
// What a call leaves behind: the bytes it returns, the lines it logs to
// standard output, and the what() of a length error it throws.

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

template <typename Fn>
std::string logOf(Fn&& fn) {
  testing::internal::CaptureStdout();
  fn();
  return testing::internal::GetCapturedStdout();
}

struct Outcome {
  std::vector<uint8_t> bytes;
  std::string log;
  std::string thrown;
  bool operator==(const Outcome& o) const {
    return bytes == o.bytes && log == o.log && thrown == o.thrown;
  }
};

template <typename Fn>
Outcome outcomeOf(Fn&& fn) {
  Outcome out;
  out.log = logOf([&] {
    try {
      out.bytes = fn();
    } catch (const std::length_error& e) {
      out.thrown = e.what();
    }
  });
  return out;
}
