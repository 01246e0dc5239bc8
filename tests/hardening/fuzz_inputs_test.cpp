// The fuzz targets' committed inputs, replayed on every test run: each seed and each input a fuzzer
// once broke the code with (fuzz/regressions/) must keep its properties, and the named ones must do
// what their names say.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/drivers/convert_pixels_driver.h"
#include "fuzz/drivers/map_loader_driver.h"
#include "fuzz/drivers/negotiation_driver.h"
#include "fuzz/drivers/v4l2_frames_driver.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every committed input of a target, by file name ("corpus/..." or "regressions/...").
std::map<std::string, std::vector<std::uint8_t>> Inputs(const std::string& target) {
  std::map<std::string, std::vector<std::uint8_t>> inputs;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(VIEWER_SOURCE_DIR) / "fuzz" / kind / target;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
      if (entry.is_regular_file())
        inputs[std::string(kind) + "/" + entry.path().filename().string()] = Read(entry.path());
  }
  return inputs;
}

// The capture layer prints its size-mismatch line for some inputs; keep it out of the test log.
class QuietStdout {
 public:
  QuietStdout() { testing::internal::CaptureStdout(); }
  ~QuietStdout() { testing::internal::GetCapturedStdout(); }
};

TEST(FuzzInputs, EveryCommittedInputKeepsItsProperties) {
  struct Target {
    const char* name;
    std::string (*check)(const std::uint8_t*, std::size_t);
  };
  const Target targets[] = {
      {"map_loader_fuzz", fuzz::CheckMapFile},
      {"convert_pixels_fuzz", fuzz::CheckConvertPixels},
      {"negotiation_fuzz", [](const std::uint8_t* d, std::size_t n) { return fuzz::CheckOpenDevice(d, n); }},
      {"v4l2_frames_fuzz", [](const std::uint8_t* d, std::size_t n) { return fuzz::CheckV4l2Frames(d, n); }},
  };
  QuietStdout quiet;
  for (const Target& target : targets) {
    const auto inputs = Inputs(target.name);
    EXPECT_GE(inputs.size(), 5u) << target.name << ": seeds missing";
    for (const auto& [name, bytes] : inputs)
      EXPECT_EQ(target.check(bytes.data(), bytes.size()), "") << target.name << " " << name;
  }
}

fuzz::OpenOutcome OpenInput(const std::string& name) {
  const std::vector<std::uint8_t> bytes = Inputs("negotiation_fuzz").at(name);
  fuzz::OpenOutcome outcome;
  QuietStdout quiet;
  EXPECT_EQ(fuzz::CheckOpenDevice(bytes.data(), bytes.size(), &outcome), "") << name;
  return outcome;
}

TEST(FuzzInputs, NegotiationSeedsReachTheirCases) {
  struct Expected {
    const char* name;
    bool opened;
    int width, height, framesTaken;
    std::size_t offers;
  };
  for (const Expected& e : {
           Expected{"range-exact", true, 64, 48, 2, 1},
           // 100 x 60 asked: 128 x 72 is closer (28 + 12) than 64 x 48 (36 + 12).
           Expected{"closest", true, 128, 72, 2, 1},
           // The four RGB subtypes refused, then YUY2 taken.
           Expected{"yuy2-converted", true, 32, 24, 2, 5},
           // Nothing taken: every subtype offered, then the camera's own format put back.
           Expected{"refuses-all", true, 64, 48, 1, 19},
           Expected{"top-down-size", true, 0, 0, 0, 1},
           Expected{"incomplete-format", true, 0, 0, 0, 0},
           Expected{"unreadable-format", false, 0, 0, 0, 0},
           Expected{"cannot-connect", false, 0, 0, 0, 1},
       }) {
    const fuzz::OpenOutcome outcome = OpenInput(std::string("corpus/") + e.name);
    EXPECT_EQ(outcome.opened, e.opened) << e.name;
    EXPECT_EQ(outcome.width * 10000 + outcome.height, e.width * 10000 + e.height) << e.name;
    EXPECT_EQ(outcome.framesTaken, e.framesTaken) << e.name;
    EXPECT_EQ(outcome.offers, e.offers) << e.name;
  }
}

fuzz::V4l2Outcome StreamInput(const std::string& name) {
  const std::vector<std::uint8_t> bytes = Inputs("v4l2_frames_fuzz").at(name);
  fuzz::V4l2Outcome outcome;
  EXPECT_EQ(fuzz::CheckV4l2Frames(bytes.data(), bytes.size(), &outcome), "") << name;
  return outcome;
}

TEST(FuzzInputs, V4l2SeedsDeliverWholeFramesAndDropDamagedOnes) {
  struct Expected {
    const char* name;
    int delivered, dropped;
  };
  for (const Expected& e :
       {Expected{"corpus/yuyv", 2, 0}, Expected{"corpus/yuyv-padded", 1, 0},
        // A stride below the row size cannot be true: the row size is used.
        Expected{"corpus/yuyv-stride-lie", 2, 0},
        // Short, lying about its length, flagged as damaged: all dropped.
        Expected{"corpus/yuyv-short-used-flagged", 0, 3},
        // Buffers too small for a frame: nothing can be delivered.
        Expected{"corpus/yuyv-small-buffers", 0, 2}, Expected{"corpus/yuyv-native", 1, 0},
        // A whole JPEG, then the same cut in half.
        Expected{"corpus/mjpeg", 1, 1}, Expected{"corpus/mjpeg-other-size", 0, 1}, Expected{"corpus/nv12-padded", 1, 0},
        Expected{"corpus/yuv420", 1, 0}, Expected{"corpus/bgr24", 1, 0}, Expected{"corpus/rgb565-native", 1, 0}}) {
    const fuzz::V4l2Outcome outcome = StreamInput(e.name);
    EXPECT_TRUE(outcome.streamed) << e.name;
    EXPECT_EQ(outcome.delivered, e.delivered) << e.name;
    EXPECT_EQ(outcome.dropped, e.dropped) << e.name;
  }
}

}  // namespace
