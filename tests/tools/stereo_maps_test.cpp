// stereo-maps on real chessboard photos: the calibration, the maps and files it writes, the check
// picture, and bad input refused with one message and the output directory untouched.
#include "tools/stereo_maps/stereo_maps.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "stereo/rectification_maps.h"
#include "testing/viewer_harness.h"
#include "tools/stereo_maps/check_picture.h"

namespace {

using stereo_maps::CalibrateOptions;
using testkit::Entries;
using testkit::TempDir;

const std::string kBoards = VIEWER_TEST_DATA_DIR "/chessboard/";

CalibrateOptions BoardOptions(const std::string& outDir, std::vector<std::string> lefts = {kBoards + "left*.jpg"},
                              std::vector<std::string> rights = {kBoards + "right*.jpg"}) {
  return {std::move(lefts), std::move(rights), cv::Size(9, 6), 25.0, outDir};
}

// The tool's own messages; progress lines do not start with its name.
std::vector<std::string> ToolMessages(const std::string& err) {
  std::vector<std::string> messages;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("stereo-maps:", 0) == 0) messages.push_back(line);
  return messages;
}

// One calibration of the ten pairs serves every test of the suite.
class CalibratedRig : public ::testing::Test {
 protected:
  struct Run {
    TempDir dir;
    int exitCode = -1;
    std::ostringstream out, err;
    stereo_maps::CalibrationReport report;
  };
  static void SetUpTestSuite() {
    run_ = std::make_unique<Run>();
    run_->exitCode = stereo_maps::RunCalibrate(BoardOptions(run_->dir.path()), run_->out, run_->err, &run_->report);
  }
  static void TearDownTestSuite() { run_.reset(); }
  static inline std::unique_ptr<Run> run_;
};

TEST_F(CalibratedRig, CalibratesTheTenPairsAccuratelySaysSoAndWritesTheMaps) {
  ASSERT_EQ(run_->exitCode, 0) << run_->err.str();
  const auto& report = run_->report;
  EXPECT_EQ(report.usedPairs.size(), 10u);
  EXPECT_LT(report.calibration.stereoError, 1.0);
  EXPECT_LT(report.misalignment.mean, 0.5);
  EXPECT_EQ(report.misalignment.points, 10u * 54u);
  // The right camera sits beside the left one: a mostly horizontal baseline.
  const double tx = report.calibration.T.at<double>(0), ty = report.calibration.T.at<double>(1);
  EXPECT_GT(std::fabs(tx), 10.0 * std::fabs(ty));

  const std::string out = run_->out.str(), err = run_->err.str();
  for (const char* said :
       {"reprojection error: ", "vertical misalignment after rectification: mean ", "left11.jpg + right11.jpg"})
    EXPECT_NE(out.find(said), std::string::npos) << said;
  EXPECT_NE(err.find("searching the board: pair 10 of 10"), std::string::npos);
  EXPECT_EQ(ToolMessages(err), std::vector<std::string>{"stereo-maps: warning: these maps are 640 x 480; the viewer "
                                                        "takes them with --frame 640x480 (by default it needs 1024 x "
                                                        "768; take the photos with the cameras at the size they run "
                                                        "at)"});
  // It writes the four maps and the calibration, and nothing else.
  for (int i = 0; i < 4; ++i) {
    const std::string path = run_->dir.File(stereo::kMapFileNames[i]);
    cv::Mat map;
    std::string reason;
    ASSERT_TRUE(stereo::LoadMap(path, 480, 640, &map, &reason)) << path << ": " << reason;
    EXPECT_EQ(cv::norm(map, run_->report.calibration.maps[i], cv::NORM_INF), 0.0) << path;
  }
  cv::FileStorage yml(run_->dir.File("calibration.yml"), cv::FileStorage::READ);
  EXPECT_EQ(static_cast<int>(yml["image_width"]), 640);
  EXPECT_EQ(Entries(run_->dir.path()),
            (std::vector<std::string>{"calibration.yml", "mx1.xml", "mx2.xml", "my1.xml", "my2.xml"}));
}

TEST_F(CalibratedRig, CheckWritesAPictureWhoseRowsLineUpAndMirrorsAFlippedCamera) {
  ASSERT_EQ(run_->exitCode, 0);
  TempDir pictures;
  stereo_maps::CheckOptions options{run_->dir.path(), kBoards + "left05.jpg", kBoards + "right05.jpg",
                                    pictures.File("pair05.png"), cv::Size(9, 6)};
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

  options.mapsDir = pictures.path();
  // Photos of a mirrored camera are mirrored before use: with maps that change nothing, the picture shows
  // the left photo mirrored and the right one as it is (the guide lines run across: mirrored they stay).
  ASSERT_EQ(stereo_maps::RunIdentity({cv::Size(640, 480), pictures.path()}, out, err), 0);
  ASSERT_EQ(stereo_maps::RunCheck(options, out, err), 0) << err.str();
  const cv::Mat plain = cv::imread(options.outFile);
  options.outFile = pictures.File("mirrored.png");
  options.flipLeft = stereo::Mirror::Horizontal;
  ASSERT_EQ(stereo_maps::RunCheck(options, out, err), 0) << err.str();
  const cv::Mat mirrored = cv::imread(options.outFile);
  const cv::Rect leftHalf(0, 0, 640, 480), rightHalf(640, 0, 640, 480);
  cv::Mat flipped;
  cv::flip(plain(leftHalf), flipped, 1);
  EXPECT_EQ(cv::norm(mirrored(leftHalf), flipped, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::norm(mirrored(rightHalf), plain(rightHalf), cv::NORM_INF), 0.0);
}

// Bad input: one message, exit 1, and beside an old map in the output directory nothing new.
class StereoMapsBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    cv::Mat x, y;
    stereo::MakeIdentityMaps(8, 8, &x, &y);
    ASSERT_TRUE(stereo::SaveMap(out_.File("mx1.xml"), x, nullptr));
    std::ofstream(images_.File("garbage.jpg")) << "not a picture";
    cv::imwrite(images_.File("small.png"), cv::Mat(240, 320, CV_8UC1, cv::Scalar(128)));
    for (const char* name : {"blank1.png", "blank2.png", "blank3.png"})
      cv::imwrite(images_.File(name), cv::Mat(480, 640, CV_8UC1, cv::Scalar(200)));
  }
  // Runs and returns the log; the message must be the only one, the output directory untouched.
  std::string Refused(const std::vector<std::string>& lefts, const std::vector<std::string>& rights,
                      const std::string& message) {
    std::ostringstream out, err;
    EXPECT_EQ(stereo_maps::RunCalibrate(BoardOptions(out_.path(), lefts, rights), out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(ToolMessages(err.str()), std::vector<std::string>{"stereo-maps: " + message});
    EXPECT_EQ(Entries(out_.path()), std::vector<std::string>{"mx1.xml"}) << "nothing written beside the old map";
    cv::Mat old;
    EXPECT_TRUE(stereo::LoadMap(out_.File("mx1.xml"), 8, 8, &old, nullptr)) << "old map intact";
    return err.str();
  }
  TempDir images_, out_;
};

TEST_F(StereoMapsBadInput, MissingUnreadableMismatchedOrTooFewImagesOrBoards) {
  const std::string left01 = kBoards + "left01.jpg", right01 = kBoards + "right01.jpg";
  const std::string garbage = images_.File("garbage.jpg"), small = images_.File("small.png");
  Refused({images_.File("nothing*.jpg")}, {right01}, "--left: no images match '" + images_.File("nothing*.jpg") + "'");
  Refused({left01}, {garbage}, "cannot read image '" + garbage + "'");
  Refused({left01}, {small},
          "'" + small + "' is 320 x 240 but '" + left01 + "' is 640 x 480: all images must have one size");
  const std::string blanks = images_.File("blank*.png");
  Refused({blanks}, {blanks}, "no 9x6 board found in any image (--board counts inner corners)");
  const std::string log =
      Refused({kBoards + "left0[123].jpg"}, {right01, kBoards + "right02.jpg", images_.File("blank1.png")},
              "only 2 of 3 pairs show the 9x6 board on both sides; at least 3 are needed");
  EXPECT_NE(log.find("pair 3 of 3 skipped: no 9x6 board in blank1.png"), std::string::npos) << log;
}

TEST_F(StereoMapsBadInput, AnOutputDirectoryThatCannotBeWrittenFailsBeforeTheSearch) {
  for (const std::string& dir : {images_.File("garbage.jpg"), images_.File("garbage.jpg/maps")}) {
    std::ostringstream out, err, identityErr;
    EXPECT_EQ(stereo_maps::RunCalibrate(BoardOptions(dir), out, err), 1);
    EXPECT_EQ(err.str().rfind("stereo-maps: cannot write to '" + dir + "': ", 0), 0u) << err.str();
    EXPECT_EQ(err.str().find('\n'), err.str().size() - 1) << "no corner search: " << err.str();
    EXPECT_EQ(stereo_maps::RunIdentity({cv::Size(8, 8), dir}, out, identityErr), 1);
    EXPECT_EQ(identityErr.str().rfind("stereo-maps: cannot write to '" + dir + "': ", 0), 0u) << identityErr.str();
  }
}

// The maps are staged and put in place together: a disk that fills up halfway leaves the old map,
// a run that succeeds replaces it.
TEST_F(StereoMapsBadInput, ADiskThatFillsUpHalfwayLeavesTheOldMapAndASuccessReplacesIt) {
  std::filesystem::create_symlink("/dev/full", out_.File(".my1.xml.new.tmp"));
  std::ostringstream out, err;
  EXPECT_EQ(stereo_maps::RunIdentity({cv::Size(16, 16), out_.path()}, out, err), 1);
  EXPECT_EQ(err.str(), "stereo-maps: cannot write the maps to '" + out_.path() + "': my1.xml: cannot write " +
                           out_.File(".my1.xml.new.tmp") + ": file not found\n");
  cv::Mat map;
  EXPECT_EQ(Entries(out_.path()), std::vector<std::string>{"mx1.xml"});
  EXPECT_TRUE(stereo::LoadMap(out_.File("mx1.xml"), 8, 8, &map, nullptr)) << "the old map";
  EXPECT_EQ(stereo_maps::RunIdentity({cv::Size(16, 16), out_.path()}, out, err), 0);
  EXPECT_EQ(Entries(out_.path()), (std::vector<std::string>{"mx1.xml", "mx2.xml", "my1.xml", "my2.xml"}));
  EXPECT_TRUE(stereo::LoadMap(out_.File("mx1.xml"), 16, 16, &map, nullptr)) << "the new map";
}

}  // namespace
