// The operator at work on the whole viewer (app::WinMain, off-screen displays, two still cameras 48
// pixels apart): lock, nudge and swap by keys or by the control pipe, as the pass records show them.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "app/control_channel.h"
#include "capture/synthetic/virtual_camera_backend.h"
#include "testing/stereo_rig.h"
#include "testing/viewer_harness.h"

namespace {

using app::OperatorCommand;
using Kind = OperatorCommand::Kind;
const int kCropCentreX = stereo::Geometry().CropCentreX();
using testkit::TempDir;
using testkit::ViewerHarness;

class Operating : public testing::TestWithParam<bool> {};  // true: by the control pipe, false: by keys

TEST_P(Operating, LockNudgeAndSwapShowInTheRecords) {
  const bool byPipe = GetParam();
  TempDir dir;
  cv::Mat left, right;
  testkit::TexturedPair(48, &left, &right, 11);
  ASSERT_TRUE(cv::imwrite(dir.File("left.png"), left) && cv::imwrite(dir.File("right.png"), right));
  std::string error;
  ViewerHarness h;
  app::Platform platform =
      h.MakePlatform(capture::MakeFileBackend(dir.File("left.png"), dir.File("right.png"), {1024, 768}, &error));
  ASSERT_TRUE(platform.cameras) << error;
  int writer = -1;
  if (byPipe) {
    platform.control = std::make_unique<app::ControlChannel>();
    ASSERT_TRUE(platform.control->Open(dir.File("control"), &error)) << error;
    writer = open(dir.File("control").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
  }
  const auto send = [&](char key, const std::string& line) {
    if (byPipe) {
      ASSERT_EQ(write(writer, (line + "\n").data(), line.size() + 1), static_cast<ssize_t>(line.size() + 1));
    } else {
      h.window->queue.push_back({app::WindowMessage::Kind::KeyDown, key});
    }
  };
  const auto cropsAt = [](const stereo::FrameStepRecord& r, int value) {
    return r.cropX[0] == kCropCentreX + value / 2 && r.cropX[1] == kCropCentreX - value / 2;
  };
  int step = 0, since = 0, lockedAt = 0;
  bool fresh[2] = {false, false};  // each side has had a new frame since the swap
  const auto next = [&](char key, const std::string& line) {
    send(key, line);
    ++step;
    since = 0;
  };
  h.window->quitAtPass = 20000;
  app::WinMain(std::move(platform), ViewerHarness::IdentityConfig(), [&](app::StereoViewer& viewer) {
    const stereo::FrameStepRecord& r = viewer.lastStep();
    ++since;
    switch (step) {
      case 0:
        lockedAt = r.follower;
        next('l', "lock");
        break;
      case 1:  // the scene's disparity is found, the follower stays where it was locked
        EXPECT_EQ(r.follower, lockedAt) << "pass " << r.passes;
        if (r.dominant == 48 && since > 10) next('l', "unlock");
        break;
      case 2:
        if (r.follower < 44) break;
        send('+', "nudge +2");
        send('+', "nudge +2");
        next('+', "nudge +2");
        break;
      case 3:  // within a few passes (one key a pass) the crops show the follower's value + 6,
      case 4:  // then its own value again
        EXPECT_LE(since, 10) << (step == 3 ? "the nudge did not reach the crops" : "the nudge was not cleared");
        if (since > 10) {
          next(app::kVirtualKeyEscape, "quit");
          step = 6;
        } else if (cropsAt(r, r.follower + (step == 3 ? 6 : 0))) {
          step == 3 ? next('0', "nudge 0") : next('s', "swap");
        }
        break;
      case 5:  // once both eyes have the other camera's frames, the disparity of 48 is gone
        if (fresh[0] && fresh[1]) {
          EXPECT_NE(r.dominant, 48) << "pass " << r.passes;
        } else {
          since = 0;
        }
        fresh[0] |= r.newFrame[0];
        fresh[1] |= r.newFrame[1];
        if (since > 5) next(app::kVirtualKeyEscape, "quit");
        break;
    }
  });
  if (writer >= 0) close(writer);
  EXPECT_EQ(step, 6);
  EXPECT_LT(h.window->passes, 20000) << "the quit did not end the run";
}

INSTANTIATE_TEST_SUITE_P(ByKeysAndByPipe, Operating, testing::Bool(),
                         [](const auto& info) { return info.param ? "Pipe" : "Keys"; });

TEST(ControlPipe, TakesWholeLinesAndReportsEachBadOneOnOneLine) {
  TempDir dir;
  std::string error;
  auto channel = std::make_unique<app::ControlChannel>();
  ASSERT_TRUE(channel->Open(dir.File("control"), &error)) << error;
  const int writer = open(dir.File("control").c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  const auto put = [writer](const std::string& text) {
    ASSERT_EQ(write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  put("swap\nfrobnicate\nnudge -4\nnudge 6\n\nnudge +2x\n  overlay on \r\noverlay\nsnapshot /tmp/a b.png\nlo");
  testing::internal::CaptureStderr();
  std::vector<OperatorCommand> got = channel->Poll();
  put("ck\n" + std::string(5000, 'x') + "\nquit\n");
  for (const OperatorCommand& more : channel->Poll()) got.push_back(more);
  const std::string err = testing::internal::GetCapturedStderr();
  close(writer);

  std::vector<std::tuple<Kind, int, std::string>> seen;
  for (const OperatorCommand& c : got) seen.emplace_back(c.kind, c.value, c.path);
  EXPECT_EQ(seen, (std::vector<std::tuple<Kind, int, std::string>>{{Kind::Swap, 0, ""},
                                                                   {Kind::Nudge, -4, ""},
                                                                   {Kind::SetNudge, 6, ""},
                                                                   {Kind::Overlay, 1, ""},
                                                                   {Kind::Overlay, -1, ""},
                                                                   {Kind::Snapshot, 0, "/tmp/a b.png"},
                                                                   {Kind::Lock, 0, ""},
                                                                   {Kind::Quit, 0, ""}}));
  EXPECT_EQ(err,
            "stereo-viewer: control: unknown command 'frobnicate' (commands: swap, nudge +N|-N|N, lock, unlock, "
            "overlay [on|off], snapshot [PATH], quit)\n"
            "stereo-viewer: control: nudge needs +N, -N (pixels added) or N (the nudge), not '+2x'\n"
            "stereo-viewer: control: line longer than 4096 bytes ignored\n");

  channel.reset();
  EXPECT_FALSE(std::filesystem::exists(dir.File("control"))) << "the pipe the viewer made goes with it";
}

}  // namespace
