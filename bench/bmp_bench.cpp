// Image preparation timed beside a plain memcpy of the same number of bytes
// (the conversion's input, the resize's output), with the ratios summed up
// after the run. The ratios use CPU time: on a shared machine wall time also
// counts the other processes. The module's log lines go to /dev/null; the
// report goes to standard error.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "helper/bmp.h"
#include "helper/label_image.h"

namespace {

struct Size {
  int32_t width;
  int32_t height;
};

std::string label(Size s) {
  return std::to_string(s.width) + "x" + std::to_string(s.height);
}

void put32(ByteVector& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A bottom-up BMP of noise; for 32 bits every alpha is 255.
ByteVector noiseBmp(Size s, uint16_t bits) {
  const size_t stride = (size_t(s.width) * bits + 31) / 32 * 4;
  const uint32_t offset = 54 + (bits == 8 ? 1024 : 0);
  ByteVector out(offset + stride * s.height);
  out[0] = 'B';
  out[1] = 'M';
  put32(out, 2, static_cast<uint32_t>(out.size()));
  put32(out, 10, offset);
  put32(out, 14, 40);
  put32(out, 18, static_cast<uint32_t>(s.width));
  put32(out, 22, static_cast<uint32_t>(s.height));
  out[26] = 1;
  out[28] = static_cast<uint8_t>(bits);
  std::mt19937_64 rng(bits);
  for (size_t i = offset; i + 8 <= out.size(); i += 8) {
    const uint64_t r = rng();
    std::memcpy(&out[i], &r, 8);
  }
  if (bits == 32) {
    for (size_t i = offset + 3; i < out.size(); i += 4) out[i] = 255;
  }
  return out;
}

// Inputs are large (up to 400 MB) and reused by the benchmark and its memcpy twin.
const ByteVector& input(Size s, uint16_t bits) {
  static std::map<std::pair<std::string, int>, ByteVector> cache;
  auto& slot = cache[{label(s), bits}];
  if (slot.empty()) slot = noiseBmp(s, bits);
  return slot;
}

void copyBytes(benchmark::State& state, const ByteVector& source, size_t bytes) {
  ByteVector target(bytes, 1);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void registerConvert(Size s, uint16_t bits) {
  const std::string name = "convert" + std::to_string(bits) + "/" + label(s);
  benchmark::RegisterBenchmark(name.c_str(), [s, bits](benchmark::State& state) {
    const ByteVector& in = input(s, bits);
    for (auto _ : state) benchmark::DoNotOptimize(convertTo8BitBMP(in));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
  });
  benchmark::RegisterBenchmark((name + "/memcpy").c_str(), [s, bits](benchmark::State& state) {
    const ByteVector& in = input(s, bits);
    copyBytes(state, in, in.size());
  });
}

void registerResize(Size from, Size to) {
  const std::string name = "resize8/" + label(from) + "->" + label(to);
  benchmark::RegisterBenchmark(name.c_str(), [from, to](benchmark::State& state) {
    const ByteVector& in = input(from, 8);
    for (auto _ : state) benchmark::DoNotOptimize(resizeBMP(in, to.width, to.height));
  });
  benchmark::RegisterBenchmark((name + "/memcpy").c_str(), [from, to](benchmark::State& state) {
    const size_t outputBytes = 1078 + size_t((to.width + 3) & ~3) * to.height;
    copyBytes(state, input(from, 8), outputBytes);
  });
}

// The one-pass label image, against a memcpy of its input plus its output:
// the memory floor of a call that reads every source row it samples.
void registerLabel(Size from, Size to, uint16_t bits) {
  const std::string name = "label" + std::to_string(bits) + "/" + label(from) + "->" + label(to);
  benchmark::RegisterBenchmark(name.c_str(), [from, to, bits](benchmark::State& state) {
    const ByteVector& in = input(from, bits);
    LabelImageSource source;
    if (!source.open(in)) return state.SkipWithError("input refused");
    for (auto _ : state) benchmark::DoNotOptimize(source.resize(to.width, to.height));
  });
  benchmark::RegisterBenchmark(
      (name + "/memcpy").c_str(), [from, to, bits](benchmark::State& state) {
        const ByteVector& in = input(from, bits);
        const size_t outputBytes = 1078 + size_t((to.width + 3) & ~3) * to.height;
        ByteVector inCopy(in.size(), 1), outCopy(outputBytes, 1);
        for (auto _ : state) {
          std::memcpy(inCopy.data(), in.data(), in.size());
          std::memcpy(outCopy.data(), in.data(), outputBytes);
          benchmark::ClobberMemory();
        }
      });
}

// Prints the console report and keeps each benchmark's CPU time (the median when
// repeated) for the ratio table at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const std::string& name = run.run_name.function_name;
      if (median || (run.run_type == Run::RT_Iteration && !medians_.count(name))) {
        times_[name] =
            run.GetAdjustedCPUTime() * 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
        if (median) medians_[name] = true;
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    char line[160];
    std::snprintf(line, sizeof line, "\n%-36s %12s %12s %8s %8s\n", "case", "cpu ms", "memcpy ms",
                  "ratio", "target");
    out << line;
    for (const auto& [name, ms] : times_) {
      auto copy = times_.find(name + "/memcpy");
      if (copy == times_.end()) continue;
      const bool isResize = name.rfind("resize", 0) == 0 || name.rfind("label", 0) == 0;
      const char* target = isResize ? "2" : name.rfind("convert24", 0) == 0 ? "3" : "-";
      std::snprintf(line, sizeof line, "%-36s %12.3f %12.3f %8.2f %8s\n", name.c_str(), ms,
                    copy->second, ms / copy->second, target);
      out << line;
    }
  }

 private:
  std::map<std::string, double> times_;
  std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  const Size sizes[] = {{1000, 660}, {4000, 2640}, {10000, 10000}};
  const Size targets[] = {{480, 320}, {800, 480}, {8000, 8000}};
  for (const Size& s : sizes) {
    registerConvert(s, 24);
    registerConvert(s, 32);
  }
  for (int i = 0; i < 3; ++i) {
    registerResize(sizes[i], targets[i]);
    registerResize(sizes[i], sizes[i]);
    registerLabel(sizes[i], targets[i], 24);
    registerLabel(sizes[i], targets[i], 32);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // The module logs every call on standard output.
  std::fflush(stdout);
  const int devNull = open("/dev/null", O_WRONLY);
  dup2(devNull, 1);
  close(devNull);

  RatioReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
