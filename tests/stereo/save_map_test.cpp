#include <algorithm>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "stereo/rectification_maps.h"
#include "tests/tools/temp_dir.h"

namespace {

using test_tools::TempDir;

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

cv::Mat Ramp(int rows, int cols) {
  cv::Mat map(rows, cols, CV_32FC1);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) map.at<float>(r, c) = 0.1f * static_cast<float>(r * cols + c) - 3.75f;
  return map;
}

TEST(SaveMap, WritesWhatTheLoaderReadsExactly) {
  TempDir dir;
  const cv::Mat map = Ramp(6, 9);
  std::string reason;
  ASSERT_TRUE(stereo::SaveMap(dir / "my2.xml", map, &reason)) << reason;
  cv::Mat loaded;
  ASSERT_TRUE(stereo::LoadMap(dir / "my2.xml", 6, 9, &loaded, &reason)) << reason;
  EXPECT_EQ(cv::norm(loaded, map, cv::NORM_INF), 0.0);
  const std::string text = Slurp(dir / "my2.xml");
  EXPECT_NE(text.find("<my2 type_id=\"opencv-matrix\">"), std::string::npos);
  EXPECT_NE(text.find("<dt>f</dt>"), std::string::npos);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"my2.xml"});

  // A hidden staging name still names the matrix after the map.
  ASSERT_TRUE(stereo::SaveMap(dir / ".mx1.xml.new", map, &reason)) << reason;
  EXPECT_NE(Slurp(dir / ".mx1.xml.new").find("<mx1 type_id=\"opencv-matrix\">"), std::string::npos);
}

TEST(SaveMap, FailureLeavesTheOldFileAndNoDebris) {
  TempDir dir;
  std::string reason;
  ASSERT_TRUE(stereo::SaveMap(dir / "mx1.xml", Ramp(4, 4), &reason));
  const std::string before = Slurp(dir / "mx1.xml");

  EXPECT_FALSE(stereo::SaveMap(dir / "mx1.xml", cv::Mat(4, 4, CV_64FC1, cv::Scalar(1)), &reason));
  EXPECT_EQ(reason, "not a single-channel float map");
  EXPECT_FALSE(stereo::SaveMap(dir / "mx1.xml", cv::Mat(), &reason));

  std::ofstream(dir / "plain-file") << "x";
  EXPECT_FALSE(stereo::SaveMap(dir / "plain-file/mx1.xml", Ramp(4, 4), &reason));
  EXPECT_FALSE(reason.empty());

  EXPECT_EQ(Slurp(dir / "mx1.xml"), before);
  auto entries = dir.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"mx1.xml", "plain-file"}));
}

}  // namespace
