// The print path against the private scheduler: the resolution lookup and
// a job file name that is taken. The job's bytes are print.test.js's; a
// refused job's log and its file's removal, faults.test.js's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "bmp_builder.h"
#include "cups_env.h"
#include "instruction/base.h"
#include "language.h"
#include "outcome.h"
#include "printer/job_file.h"
#include "printer/trace_code.h"

namespace {

const ByteVector kImage = testbmp::build(
    testbmp::grayImage(16, 8, [](int x, int y) -> uint8_t { return (x + y) % 3 ? 255 : 0; }));

class PrintTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* queue : {"tspl_never", "dpi_probe"}) testcups::addQueue(queue);
  }
  void SetUp() override { testcups::setLpoptions({}); }
};

// What the resolution lookup logs and which dot factor it leads to.
TEST_F(PrintTest, ResolutionComesFromTheDestinationOptions) {
  const std::string base = "[DEBUG] BaseInstruction: ";
  const std::string fallback = base + "加载打印机默认设置失败，将使用内置默认值\n";
  const std::string loaded = base + "加载打印机默认设置成功\n";
  const std::string found = base + "macOS平台，成功获取DPI: ";
  const std::string viaResolution = base + "macOS平台，通过Resolution选项获取DPI";
  const std::string dest = "Dest dpi_probe ", defaults = dest + "printer-resolution-default=";
  const std::tuple<std::vector<std::string>, std::string, int32_t> cases[] = {
      {{defaults + "300dpi"}, found + "300\n" + loaded, 300},
      {{defaults + "600x300dpi"}, found + "600\n" + loaded, 600},
      {{defaults + "dpi Resolution=300dpi"}, viaResolution + ": 300\n" + loaded, 300},
      {{defaults + "dpi Resolution=0"}, viaResolution + "失败\n" + fallback, 203},
      {{dest + "Resolution=300"}, fallback, 203},
      {{defaults + "203dpi", "Dest dpi_probe/second printer-resolution-default=300dpi"},
       found + "203\n" + found + "300\n" + loaded,
       300},  // the last instance wins
      {{"Dest tspl_never printer-resolution-default=300dpi"}, fallback, 203},
  };
  for (const auto& [lpoptions, lines, dpi] : cases) {
    testcups::setLpoptions(lpoptions);
    TraceCodePrintParams params = labelRequest("dpi_probe", "TSPL", true, 2, 1, kImage);
    params.image = {};  // stops the preparation right after the lookup
    int32_t got = 0;
    const std::string log =
        logOf([&] { got = makeInstruction(std::move(params), std::nullopt)->resolution(); });
    EXPECT_EQ(got, dpi) << lpoptions.front();
    EXPECT_EQ(log, base + "尝试加载打印机默认设置\n" + lines + base + "开始准备准备8bit\n" +
                       "[DEBUG] BMP数据不完整或无效\n" + base + "BMP转换8bit失败，返回空数据\n")
        << lpoptions.front();
  }
}

TEST_F(PrintTest, ExistingFileWithTheGeneratedNameIsLeftAlone) {
  // Occupy the names the next call can generate: this second or the next,
  // with the number the generator will draw after this seed.
  seedJobFileNumbers(20261206);
  const int draw = nextJobFileNumber();
  seedJobFileNumbers(20261206);
  std::vector<std::string> occupied;
  for (std::time_t t = std::time(nullptr), end = t + 1; t <= end; ++t) {
    occupied.push_back(jobFileName(t, draw));
    std::ofstream(occupied.back()) << "someone else's";
  }
  bool ok = true;
  const std::string log =
      logOf([&] { ok = execPrint(labelRequest("tspl_never", "TSPL", true, 2, 1, kImage)); });
  EXPECT_FALSE(ok);
  EXPECT_NE(log.find("[DEBUG] macOS平台: 无法创建临时文件\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("CUPS"), std::string::npos) << log;
  for (const auto& name : occupied) {
    std::ifstream in(name);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "someone else's");
    unlink(name.c_str());
  }
}

}  // namespace
