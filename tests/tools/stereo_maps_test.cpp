#include "tools/stereo_maps/stereo_maps.h"
#include "tools/stereo_maps/check_picture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "stereo/rectification_maps.h"
#include "tests/tools/temp_dir.h"

namespace {

using stereo_maps::CalibrateOptions;
using test_tools::TempDir;

const std::string kBoards = VIEWER_TEST_DATA_DIR "/chessboard/";

CalibrateOptions BoardOptions(const std::string& outDir) {
  CalibrateOptions options;
  options.leftPatterns = {kBoards + "left*.jpg"};
  options.rightPatterns = {kBoards + "right*.jpg"};
  options.board = cv::Size(9, 6);
  options.squareSize = 25.0;
  options.outDir = outDir;
  return options;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The tool's own messages; progress lines do not start with its name.
std::vector<std::string> ToolMessages(const std::string& err) {
  std::vector<std::string> messages;
  for (const std::string& line : Lines(err))
    if (line.rfind("stereo-maps:", 0) == 0) messages.push_back(line);
  return messages;
}

bool HasEntryEndingIn(const TempDir& dir, const std::string& suffix) {
  for (const std::string& name : dir.Entries())
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      return true;
  return false;
}

// One calibration of the ten pairs serves every test of the suite.
class CalibratedRig : public ::testing::Test {
 protected:
  struct Run {
    TempDir out;
    int exitCode = -1;
    std::string stdoutText, stderrText;
    stereo_maps::CalibrationReport report;
  };
  static void SetUpTestSuite() {
    run_ = std::make_unique<Run>();
    std::ostringstream out, err;
    run_->exitCode = stereo_maps::RunCalibrate(BoardOptions(run_->out.path().string()), out, err, &run_->report);
    run_->stdoutText = out.str();
    run_->stderrText = err.str();
  }
  static void TearDownTestSuite() { run_.reset(); }
  static inline std::unique_ptr<Run> run_;
};

TEST_F(CalibratedRig, CalibratesTheTenPairsAccurately) {
  ASSERT_EQ(run_->exitCode, 0) << run_->stderrText;
  const auto& report = run_->report;
  EXPECT_EQ(report.usedPairs.size(), 10u);
  EXPECT_LT(report.calibration.stereoError, 1.0);
  EXPECT_LT(report.misalignment.mean, 0.5);
  EXPECT_EQ(report.misalignment.points, 10u * 54u);
  // The right camera sits beside the left one: a mostly horizontal baseline.
  const double tx = report.calibration.T.at<double>(0), ty = report.calibration.T.at<double>(1);
  EXPECT_GT(std::fabs(tx), 10.0 * std::fabs(ty));

  EXPECT_NE(run_->stdoutText.find("reprojection error: "), std::string::npos);
  EXPECT_NE(run_->stdoutText.find("vertical misalignment after rectification: mean "), std::string::npos);
  EXPECT_NE(run_->stdoutText.find("left11.jpg + right11.jpg"), std::string::npos);
  EXPECT_NE(run_->stderrText.find("searching the board: pair 10 of 10"), std::string::npos);
  const auto messages = ToolMessages(run_->stderrText);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("warning: these maps are 640 x 480; the viewer needs 1024 x 768"), std::string::npos);
}

TEST_F(CalibratedRig, MapsLoadBackAndTheViewerRefusesTheirSize) {
  ASSERT_EQ(run_->exitCode, 0);
  for (int i = 0; i < 4; ++i) {
    const std::string path = run_->out / stereo::kMapFileNames[i];
    cv::Mat map;
    std::string reason;
    ASSERT_TRUE(stereo::LoadMap(path, 480, 640, &map, &reason)) << path << ": " << reason;
    EXPECT_EQ(cv::norm(map, run_->report.calibration.maps[i], cv::NORM_INF), 0.0) << path;
    EXPECT_FALSE(stereo::LoadMap(path, stereo::kFrameHeight, stereo::kFrameWidth, &map, &reason));
    EXPECT_EQ(reason, "size 640 x 480, expected 1024 x 768");
  }
  std::ifstream xml(run_->out / "mx1.xml");
  std::string head((std::istreambuf_iterator<char>(xml)), {});
  EXPECT_NE(head.find("<mx1 type_id=\"opencv-matrix\">"), std::string::npos);

  cv::FileStorage yml(run_->out / "calibration.yml", cv::FileStorage::READ);
  ASSERT_TRUE(yml.isOpened());
  cv::Mat k1, t, p2;
  yml["K1"] >> k1;
  yml["T"] >> t;
  yml["P2"] >> p2;
  EXPECT_EQ(static_cast<int>(yml["image_width"]), 640);
  EXPECT_EQ(k1.size(), cv::Size(3, 3));
  EXPECT_EQ(t.total(), 3u);
  EXPECT_EQ(p2.size(), cv::Size(4, 3));
  EXPECT_FALSE(HasEntryEndingIn(run_->out, ".new"));
  EXPECT_FALSE(HasEntryEndingIn(run_->out, ".tmp"));
}

TEST_F(CalibratedRig, CheckWritesAPictureWhoseRowsLineUp) {
  ASSERT_EQ(run_->exitCode, 0);
  TempDir pictures;
  stereo_maps::CheckOptions options;
  options.mapsDir = run_->out.path().string();
  options.left = kBoards + "left05.jpg";
  options.right = kBoards + "right05.jpg";
  options.outFile = pictures / "pair05.png";
  stereo_maps::CheckReport report;
  std::ostringstream out, err;
  ASSERT_EQ(stereo_maps::RunCheck(options, out, err, &report), 0) << err.str();

  const cv::Mat picture = cv::imread(options.outFile, cv::IMREAD_COLOR);
  ASSERT_EQ(picture.size(), cv::Size(1280, 480));
  const int guideRow = stereo_maps::kGuideSpacing / 2;
  EXPECT_EQ(picture.at<cv::Vec3b>(guideRow, 10), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(picture.at<cv::Vec3b>(guideRow, 1270), cv::Vec3b(0, 255, 0));
  // Measured on the rectified pictures themselves, independently of the calibration's own figure.
  ASSERT_TRUE(report.boardFound);
  EXPECT_LT(report.misalignment.mean, 0.5);
  EXPECT_NE(out.str().find("vertical misalignment: mean "), std::string::npos);

  // Unrectified, the same pair is visibly off.
  std::vector<cv::Point2f> left, right;
  ASSERT_TRUE(stereo_maps::FindBoard(cv::imread(options.left, cv::IMREAD_GRAYSCALE), {9, 6}, &left));
  ASSERT_TRUE(stereo_maps::FindBoard(cv::imread(options.right, cv::IMREAD_GRAYSCALE), {9, 6}, &right));
  EXPECT_GT(stereo_maps::VerticalMisalignment(left, right).mean, 2.0);
}

TEST(StereoMapsIdentity, WritesMapsTheViewerAccepts) {
  TempDir out;
  std::ostringstream stdoutText, stderrText;
  stereo_maps::IdentityOptions options;
  options.outDir = out.path().string();
  ASSERT_EQ(stereo_maps::RunIdentity(options, stdoutText, stderrText), 0) << stderrText.str();
  EXPECT_EQ(stderrText.str(), "") << "1024 x 768 needs no warning";
  cv::Mat expectedX, expectedY;
  stereo::MakeIdentityMaps(stereo::kFrameHeight, stereo::kFrameWidth, &expectedX, &expectedY);
  for (int i = 0; i < 4; ++i) {
    cv::Mat map;
    std::string reason;
    ASSERT_TRUE(
        stereo::LoadMap(out / stereo::kMapFileNames[i], stereo::kFrameHeight, stereo::kFrameWidth, &map, &reason))
        << reason;
    EXPECT_EQ(cv::norm(map, i % 2 == 0 ? expectedX : expectedY, cv::NORM_INF), 0.0);
  }
  EXPECT_EQ(out.Entries().size(), 4u);

  TempDir small;
  std::ostringstream ignored, warning;
  options = {cv::Size(64, 48), small.path().string()};
  ASSERT_EQ(stereo_maps::RunIdentity(options, ignored, warning), 0);
  EXPECT_NE(warning.str().find("these maps are 64 x 48"), std::string::npos);
}

// Bad input: one message, exit 1, and the output directory as it was.
class StereoMapsBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(images_.path().empty());
    ASSERT_FALSE(out_.path().empty());
  }
  std::string CopyBoard(const std::string& name) {
    std::filesystem::copy_file(kBoards + name, images_ / name);
    return images_ / name;
  }
  std::string WriteImage(const std::string& name, const cv::Mat& image) {
    cv::imwrite(images_ / name, image);
    return images_ / name;
  }
  CalibrateOptions Options(std::vector<std::string> lefts, std::vector<std::string> rights) {
    CalibrateOptions options = BoardOptions(out_.path().string());
    options.leftPatterns = std::move(lefts);
    options.rightPatterns = std::move(rights);
    return options;
  }
  // Runs and returns the single message; the output directory must be untouched.
  std::string Fails(const CalibrateOptions& options) {
    std::ostringstream out, err;
    EXPECT_EQ(stereo_maps::RunCalibrate(options, out, err), 1);
    EXPECT_EQ(out.str(), "");
    const auto messages = ToolMessages(err.str());
    EXPECT_EQ(messages.size(), 1u) << err.str();
    EXPECT_EQ(out_.Entries(), std::vector<std::string>{"mx1.xml"}) << "nothing written beside the old map";
    std::string reason;
    cv::Mat old;
    EXPECT_TRUE(stereo::LoadMap(out_ / "mx1.xml", 8, 8, &old, &reason)) << "old map intact: " << reason;
    return messages.empty() ? "" : messages.front();
  }
  void SetUpOldMap() {
    cv::Mat x, y;
    stereo::MakeIdentityMaps(8, 8, &x, &y);
    std::string reason;
    ASSERT_TRUE(stereo::SaveMap(out_ / "mx1.xml", x, &reason)) << reason;
  }
  TempDir images_, out_;
};

TEST_F(StereoMapsBadInput, MissingUnreadableOrMismatchedImages) {
  SetUpOldMap();
  EXPECT_EQ(Fails(Options({images_ / "nothing*.jpg"}, {kBoards + "right*.jpg"})),
            "stereo-maps: --left: no images match '" + (images_ / "nothing*.jpg") + "'");

  std::ofstream(images_ / "garbage.jpg") << "not a picture";
  const std::string left01 = CopyBoard("left01.jpg"), right01 = CopyBoard("right01.jpg");
  EXPECT_EQ(Fails(Options({left01}, {images_ / "garbage.jpg"})),
            "stereo-maps: cannot read image '" + (images_ / "garbage.jpg") + "'");

  const std::string small = WriteImage("small.png", cv::Mat(240, 320, CV_8UC1, cv::Scalar(128)));
  EXPECT_EQ(Fails(Options({left01}, {small})), "stereo-maps: '" + small + "' is 320 x 240 but '" + left01 +
                                                   "' is 640 x 480: all images must have one size");

  EXPECT_NE(Fails(Options({kBoards + "left0*.jpg"}, {right01})).find("--left matches 9 images but --right matches 1"),
            std::string::npos);
  EXPECT_EQ(Fails(Options({left01}, {right01})), "stereo-maps: only 1 pair of images given; at least 3 are needed");
}

TEST_F(StereoMapsBadInput, TooFewBoardsOrNoBoardAtAll) {
  SetUpOldMap();
  const cv::Mat blank(480, 640, CV_8UC1, cv::Scalar(200));
  std::vector<std::string> blanks;
  for (const char* name : {"blank1.png", "blank2.png", "blank3.png"}) blanks.push_back(WriteImage(name, blank));
  EXPECT_EQ(Fails(Options(blanks, blanks)),
            "stereo-maps: no 9x6 board found in any image (--board counts inner corners)");

  // Two good pairs and one whose right image shows no board.
  std::ostringstream out, err;
  const CalibrateOptions options = Options({CopyBoard("left01.jpg"), CopyBoard("left02.jpg"), CopyBoard("left03.jpg")},
                                           {CopyBoard("right01.jpg"), CopyBoard("right02.jpg"), blanks[0]});
  EXPECT_EQ(Fails(options), "stereo-maps: only 2 of 3 pairs show the 9x6 board on both sides; at least 3 are needed");
  stereo_maps::RunCalibrate(options, out, err);
  EXPECT_NE(err.str().find("pair 3 of 3 skipped: no 9x6 board in blank1.png"), std::string::npos) << err.str();
}

TEST_F(StereoMapsBadInput, OutputDirectoryThatCannotBeWritten) {
  std::ofstream(images_ / "a-file") << "x";
  for (const std::string& dir : {images_ / "a-file", images_ / "a-file/maps"}) {
    std::ostringstream out, err;
    CalibrateOptions options = BoardOptions(dir);
    EXPECT_EQ(stereo_maps::RunCalibrate(options, out, err), 1);
    const auto lines = Lines(err.str());
    ASSERT_EQ(lines.size(), 1u) << "fails before any corner search: " << err.str();
    EXPECT_EQ(lines[0].rfind("stereo-maps: cannot write to '" + dir + "': ", 0), 0u) << lines[0];

    stereo_maps::IdentityOptions identity;
    identity.outDir = dir;
    std::ostringstream ignored, identityErr;
    EXPECT_EQ(stereo_maps::RunIdentity(identity, ignored, identityErr), 1);
    EXPECT_EQ(Lines(identityErr.str()).size(), 1u);
  }
  EXPECT_EQ(images_.Entries(), std::vector<std::string>{"a-file"});
}

TEST(StereoMapsCheck, RefusesMapsOfAnotherSize) {
  TempDir maps, pictures;
  stereo_maps::IdentityOptions identity{cv::Size(320, 240), maps.path().string()};
  std::ostringstream ignored, ignoredErr;
  ASSERT_EQ(stereo_maps::RunIdentity(identity, ignored, ignoredErr), 0);

  stereo_maps::CheckOptions options;
  options.mapsDir = maps.path().string();
  options.left = kBoards + "left01.jpg";
  options.right = kBoards + "right01.jpg";
  options.outFile = pictures / "check.png";
  std::ostringstream out, err;
  EXPECT_EQ(stereo_maps::RunCheck(options, out, err), 1);
  EXPECT_EQ(err.str(), "stereo-maps: map '" + (maps / "mx1.xml") +
                           "' does not fit the 640 x 480 images: size 320 x 240, expected 640 x 480\n");
  EXPECT_TRUE(pictures.Entries().empty());
}

}  // namespace
