// The print path end to end: request -> resolution -> preparation -> TSPL ->
// raw job, captured by the private scheduler's virtual printer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "cups_env.h"
#include "instruction/base.h"
#include "printer/trace_code.h"

namespace {

// An 8-bit bottom-up BMP; rows[0] is the top row of the picture.
ByteVector gray8(const std::vector<std::vector<uint8_t>>& rows) {
  const uint32_t width = static_cast<uint32_t>(rows[0].size());
  const uint32_t height = static_cast<uint32_t>(rows.size());
  const uint32_t stride = (width + 3) & ~3u;
  ByteVector bmp(1078 + stride * height, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, static_cast<uint32_t>(bmp.size()));
  put32(10, 1078);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  bmp[26] = 1;
  bmp[28] = 8;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) bmp[1078 + (height - 1 - y) * stride + x] = rows[y][x];
  }
  return bmp;
}

std::vector<uint8_t> fill(size_t n, uint8_t v) {
  return std::vector<uint8_t>(n, v);
}

std::string text(const ByteVector& bytes) {
  return {bytes.begin(), bytes.end()};
}

TraceCodePrintParams request(const std::string& queue, ByteVector image, int32_t widthMm,
                             int32_t heightMm, bool cutter) {
  TraceCodePrintParams params;
  params.device = queue;
  params.instruction = "TSPL";
  params.withCutter = cutter;
  params.width = widthMm;
  params.height = heightMm;
  params.buffer = std::move(image);
  return params;
}

// The job file a call logged; other processes on the machine may have their own.
std::string loggedJobFile(const std::string& log) {
  static const std::regex name(R"(生成临时文件名: (/tmp/printer_command_\d{8}_\d{6}_\d+)\n)");
  std::smatch match;
  return std::regex_search(log, match, name) ? match[1].str() : std::string();
}

// The temporary file name differs per call; everything else is fixed.
std::string maskFileName(std::string log) {
  static const std::regex name(R"(/tmp/printer_command_\d{8}_\d{6}_\d+)");
  return std::regex_replace(log, name, "/tmp/printer_command_NAME");
}

std::string successLog(const std::string& resolutionLines, const std::string& fromSize,
                       const std::string& toSize, int jobId) {
  return "[DEBUG] BaseInstruction: 尝试加载打印机默认设置\n" + resolutionLines +
         "[DEBUG] BaseInstruction: 开始准备准备8bit\n"
         "[DEBUG] 成功将8位BMP转换为8位灰度BMP\n"
         "[DEBUG] BaseInstruction: BMP转换8bit成功\n"
         "[DEBUG] 成功将8位BMP转换为8位灰度BMP\n"
         "[DEBUG] 成功将BMP图像从" +
         fromSize + "调整为" + toSize +
         "\n"
         "[DEBUG] BaseInstruction: BMP调整尺寸成功\n"
         "[DEBUG] macOS平台: 生成临时文件名: /tmp/printer_command_NAME\n"
         "[DEBUG] macOS平台: 成功创建临时文件\n"
         "[DEBUG] macOS平台: 成功写入打印命令到临时文件\n"
         "[DEBUG] macOS平台: 关闭临时文件\n"
         "[DEBUG] macOS平台: 设置CUPS打印选项\n"
         "[DEBUG] macOS平台: 发送打印任务到CUPS...\n"
         "[DEBUG] macOS平台: 打印任务已提交，ID=" +
         std::to_string(jobId) +
         "\n"
         "[DEBUG] macOS平台: 释放CUPS选项资源\n"
         "[DEBUG] macOS平台: 删除临时文件\n"
         "[DEBUG] macOS平台: 打印任务处理完成\n";
}

const std::string kNoResolution =
    "[DEBUG] BaseInstruction: 加载打印机默认设置失败，将使用内置默认值\n";

class PrintTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testcups::addQueue("tspl203");
    testcups::addQueue("tspl300");
    testcups::addQueue("dpi_probe");
  }
  void SetUp() override {
    testcups::setLpoptions({"Dest tspl300 printer-resolution-default=300dpi"});
  }
};

// 16 x 8 dots, worked out by hand. TSPL sends light (>= 128) as 1 bits.
const std::vector<std::vector<uint8_t>> kLabelRows = {
    {0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255},                  // 00 FF
    {127, 128, 127, 128, 127, 128, 127, 128, 127, 128, 127, 128, 127, 128, 127, 128},  // 55 55
    {0, 0, 0, 0, 255, 255, 0, 255, 0, 0, 0, 0, 255, 0, 255, 0},                        // 0D 0A
    fill(16, 255),                                                                     // FF FF
    fill(16, 200),                                                                     // FF FF
    fill(16, 128),                                                                     // FF FF
    fill(16, 127),                                                                     // 00 00
    {255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},                                // 80 00
};
const uint8_t kLabelRaster[] = {0x00, 0xFF, 0x55, 0x55, 0x0D, 0x0A, 0xFF, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00};

TEST_F(PrintTest, TsplJobArrivesByteExact) {
  for (bool cutter : {false, true}) {
    const std::string head = std::string("SIZE 2 mm, 1 mm\r\nCLS\r\nGAP 0,0\r\nOFFSET 0\r\n") +
                             "DIRECTION 1\r\nSET TEAR ON\r\n" + (cutter ? "SET CUTTER 1\r\n" : "") +
                             "BITMAP 0,0,2,8,0,";
    std::string expected =
        head + std::string(std::begin(kLabelRaster), std::end(kLabelRaster)) + "\r\nPRINT 1\r\n";

    const size_t before = testcups::jobs("tspl203").size();
    bool ok = false;
    const std::string log = testcups::captureStdout(
        [&] { ok = execPrint(request("tspl203", gray8(kLabelRows), 2, 1, cutter)); });
    ASSERT_TRUE(ok) << log;
    auto jobs = testcups::waitForJobs("tspl203", before + 1);
    ASSERT_EQ(jobs.size(), before + 1);
    const auto& job = jobs.back();
    EXPECT_EQ(text(job.data), expected) << "cutter " << cutter;
    EXPECT_EQ(job.title, "Qorvin");
    EXPECT_EQ(job.type, "application/vnd.cups-raw");
    EXPECT_EQ(maskFileName(log), successLog(kNoResolution, "16 x 8", "16 x 8", job.id));
  }
}

TEST_F(PrintTest, ThreeHundredDpiLabelHasAPartialLastByte) {
  // 1 x 1 mm at 300 dpi is 12 x 12 dots: each row is one whole byte and four
  // pixel bits followed by four zero filler bits.
  std::vector<std::vector<uint8_t>> rows(12, fill(12, 255));
  rows[0] = {0, 255, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255};
  std::string raster = std::string("\x55\x30", 2);
  for (int r = 1; r < 12; ++r) raster += std::string("\xFF\xF0", 2);

  const size_t before = testcups::jobs("tspl300").size();
  bool ok = false;
  const std::string log = testcups::captureStdout(
      [&] { ok = execPrint(request("tspl300", gray8(rows), 1, 1, false)); });
  ASSERT_TRUE(ok) << log;
  auto jobs = testcups::waitForJobs("tspl300", before + 1);
  ASSERT_EQ(jobs.size(), before + 1);
  EXPECT_EQ(text(jobs.back().data),
            "SIZE 1 mm, 1 mm\r\nCLS\r\nGAP 0,0\r\nOFFSET 0\r\nDIRECTION 1\r\nSET TEAR ON\r\n"
            "BITMAP 0,0,2,12,0," +
                raster + "\r\nPRINT 1\r\n");
  EXPECT_EQ(maskFileName(log), successLog("[DEBUG] BaseInstruction: macOS平台，成功获取DPI: 300\n"
                                          "[DEBUG] BaseInstruction: 加载打印机默认设置成功\n",
                                          "12 x 12", "12 x 12", jobs.back().id));
}

// What the resolution lookup logs and which dot factor it leads to.
TEST_F(PrintTest, ResolutionComesFromTheDestinationOptions) {
  struct Case {
    std::vector<std::string> lpoptions;
    const char* lines;
    int32_t dpi;
  };
  const Case cases[] = {
      {{"Dest dpi_probe printer-resolution-default=300dpi"},
       "[DEBUG] BaseInstruction: macOS平台，成功获取DPI: 300\n"
       "[DEBUG] BaseInstruction: 加载打印机默认设置成功\n",
       300},
      {{"Dest dpi_probe printer-resolution-default=600x300dpi"},
       "[DEBUG] BaseInstruction: macOS平台，成功获取DPI: 600\n"
       "[DEBUG] BaseInstruction: 加载打印机默认设置成功\n",
       600},
      {{"Dest dpi_probe printer-resolution-default=dpi Resolution=300dpi"},
       "[DEBUG] BaseInstruction: macOS平台，通过Resolution选项获取DPI: 300\n"
       "[DEBUG] BaseInstruction: 加载打印机默认设置成功\n",
       300},
      {{"Dest dpi_probe printer-resolution-default=dpi Resolution=0"},
       "[DEBUG] BaseInstruction: macOS平台，通过Resolution选项获取DPI失败\n"
       "[DEBUG] BaseInstruction: 加载打印机默认设置失败，将使用内置默认值\n",
       203},
      {{"Dest dpi_probe Resolution=300"}, kNoResolution.c_str(), 203},
      {{"Dest dpi_probe printer-resolution-default=203dpi",
        "Dest dpi_probe/second printer-resolution-default=300dpi"},
       "[DEBUG] BaseInstruction: macOS平台，成功获取DPI: 203\n"
       "[DEBUG] BaseInstruction: macOS平台，成功获取DPI: 300\n"
       "[DEBUG] BaseInstruction: 加载打印机默认设置成功\n",
       300},
      {{"Dest tspl300 printer-resolution-default=300dpi"}, kNoResolution.c_str(), 203},
  };
  for (const Case& c : cases) {
    testcups::setLpoptions(c.lpoptions);
    int32_t dpi = 0;
    const std::string log = testcups::captureStdout([&] {
      // An empty image stops the preparation right after the lookup.
      auto instruction = makeInstruction(request("dpi_probe", {}, 50, 30, false), std::nullopt);
      dpi = instruction->resolution();
    });
    EXPECT_EQ(dpi, c.dpi) << c.lpoptions.front();
    EXPECT_EQ(log, "[DEBUG] BaseInstruction: 尝试加载打印机默认设置\n" + std::string(c.lines) +
                       "[DEBUG] BaseInstruction: 开始准备准备8bit\n"
                       "[DEBUG] BMP数据不完整或无效\n"
                       "[DEBUG] BaseInstruction: BMP转换8bit失败，返回空数据\n")
        << c.lpoptions.front();
  }
}

TEST_F(PrintTest, UnknownQueueIsRefusedAndLeavesNoFile) {
  bool ok = true;
  const std::string log = testcups::captureStdout(
      [&] { ok = execPrint(request("no_such_queue", gray8({fill(16, 0)}), 2, 1, false)); });
  EXPECT_FALSE(ok);
  const std::string tail = log.substr(log.find("[DEBUG] macOS平台: 发送打印任务到CUPS...\n"));
  static const std::regex expected(
      "\\[DEBUG\\] macOS平台: 发送打印任务到CUPS\\.\\.\\.\n"
      "\\[DEBUG\\] macOS平台: 打印失败，错误码=\\d+\n"
      "\\[DEBUG\\] macOS平台: 错误详情: [^\n]+\n"
      "\\[DEBUG\\] macOS平台: 释放CUPS选项资源\n"
      "\\[DEBUG\\] macOS平台: 删除临时文件\n");
  EXPECT_TRUE(std::regex_match(tail, expected)) << tail;
  const std::string jobFile = loggedJobFile(log);
  ASSERT_FALSE(jobFile.empty()) << log;
  EXPECT_NE(access(jobFile.c_str(), F_OK), 0) << jobFile;
}

TEST_F(PrintTest, ExistingFileWithTheGeneratedNameIsLeftAlone) {
  // Work out the names the next call can generate (this second or the next,
  // with the next rand() value) and occupy them.
  const unsigned seed = 20261206;
  std::srand(seed);
  const int draw = std::rand();
  std::srand(seed);
  std::vector<std::string> occupied;
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now; t <= now + 1; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    char name[256];
    std::snprintf(name, sizeof name, "/tmp/printer_command_%04d%02d%02d_%02d%02d%02d_%d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, draw);
    std::ofstream(name) << "someone else's";
    occupied.push_back(name);
  }
  bool ok = true;
  const std::string log = testcups::captureStdout(
      [&] { ok = execPrint(request("tspl203", gray8(kLabelRows), 2, 1, false)); });
  EXPECT_FALSE(ok);
  EXPECT_NE(log.find("[DEBUG] macOS平台: 无法创建临时文件\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("CUPS"), std::string::npos) << log;
  for (const auto& name : occupied) {
    std::ifstream in(name);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "someone else's");
    unlink(name.c_str());
  }
}

}  // namespace
