// Reading the map files: the formats that must load, and every bad file refused without a crash.
#include <unistd.h>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "app/error_text.h"
#include "stereo/rectification_maps.h"
#include "testing/viewer_harness.h"

using testkit::TempDir;
using testkit::ViewerHarness;

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A matrix as old releases wrote it: XML declaration, opencv_storage, %.8e floats.
std::string OldFormatMatrix(const std::string& name, int rows, int cols, const std::string& dt,
                            const std::vector<float>& values) {
  std::string text = "<?xml version=\"1.0\"?>\n<opencv_storage>\n<" + name + " type_id=\"opencv-matrix\">\n  <rows>" +
                     std::to_string(rows) + "</rows>\n  <cols>" + std::to_string(cols) + "</cols>\n  <dt>" + dt +
                     "</dt>\n  <data>\n";
  char number[32];
  for (size_t i = 0; i < values.size(); ++i) {
    std::snprintf(number, sizeof number, "%.8e", values[i]);
    text += number;
    text += (i % 4 == 3) ? "\n" : " ";
  }
  text += "</data></" + name + ">\n</opencv_storage>\n";
  return text;
}

std::vector<float> Ramp(int count) {
  std::vector<float> v(count);
  for (int i = 0; i < count; ++i) v[i] = 0.25f * static_cast<float>(i) - 3.5f;
  return v;
}

TEST(MapLoading, ReadsTheOldFormatAndAnyNodeName) {
  TempDir dir;
  const std::vector<float> values = Ramp(12);
  for (const char* name : {"mx1", "some_other_name"}) {
    WriteText(dir.File("map.xml"), OldFormatMatrix(name, 3, 4, "f", values));
    cv::Mat map;
    std::string reason;
    ASSERT_TRUE(stereo::LoadMap(dir.File("map.xml"), 3, 4, &map, &reason)) << name << ": " << reason;
    ASSERT_EQ(map.type(), CV_32FC1);
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(map.at<float>(i / 4, i % 4), values[i]);
  }
}

TEST(MapLoading, WrittenMapsRoundTripThroughTheLoader) {
  TempDir dir;
  cv::Mat x, y, loaded;
  stereo::MakeIdentityMaps(48, 64, &x, &y);
  std::string reason;
  ASSERT_TRUE(stereo::SaveMap(dir.File("mx1.xml"), x, &reason)) << reason;
  ASSERT_TRUE(stereo::LoadMap(dir.File("mx1.xml"), 48, 64, &loaded, &reason)) << reason;
  EXPECT_EQ(cv::norm(loaded, x, cv::NORM_INF), 0.0);
  std::ifstream in(dir.File("mx1.xml"));
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("type_id=\"opencv-matrix\""), std::string::npos);
  EXPECT_FALSE(std::ifstream(dir.File("mx1.xml.tmp")).good()) << "the temporary file must be gone";
}

struct BadMap {
  const char* name;
  std::string content;  // empty string with missing=true: no file at all
  bool missing = false;
};

class MapLoadingRefuses : public testing::TestWithParam<BadMap> {};

TEST_P(MapLoadingRefuses, WithAReasonAndNoCrash) {
  TempDir dir;
  if (!GetParam().missing) WriteText(dir.File("map.xml"), GetParam().content);
  cv::Mat map;
  std::string reason;
  EXPECT_FALSE(stereo::LoadMap(dir.File("map.xml"), 3, 4, &map, &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_TRUE(map.empty());
}

const std::string kGood = OldFormatMatrix("m", 3, 4, "f", Ramp(12));

INSTANTIATE_TEST_SUITE_P(
    EveryBadFile, MapLoadingRefuses,
    testing::Values(BadMap{"Missing", "", true}, BadMap{"Empty", ""},
                    BadMap{"Truncated", kGood.substr(0, kGood.size() / 2)},
                    BadMap{"NotXml", "this is not a matrix\n\x01\x02"},
                    BadMap{"NodeIsANumber",
                           "<?xml version=\"1.0\"?>\n<opencv_storage>\n<m>42</m>\n</opencv_storage>\n"},
                    BadMap{"DoubleElements", OldFormatMatrix("m", 3, 4, "d", Ramp(12))},
                    BadMap{"TwoChannels", OldFormatMatrix("m", 3, 2, "\"2f\"", Ramp(12))},
                    BadMap{"WrongSize", OldFormatMatrix("m", 4, 3, "f", Ramp(12))},
                    BadMap{"TooFewValues", OldFormatMatrix("m", 3, 4, "f", Ramp(11))},
                    BadMap{"TooManyValues", OldFormatMatrix("m", 3, 4, "f", Ramp(13))},
                    // Claims a gigantic matrix: refused on its header, before anything is allocated.
                    BadMap{"HugeHeader", OldFormatMatrix("m", 200000, 200000, "f", Ramp(12))},
                    BadMap{"NegativeSize", OldFormatMatrix("m", -3, 4, "f", Ramp(12))},
                    BadMap{"GarbageValues",
                           "<?xml version=\"1.0\"?>\n<opencv_storage>\n<m type_id=\"opencv-matrix\">"
                           "<rows>3</rows><cols>4</cols><dt>f</dt><data>a b c d e f g h i j k l"
                           "</data></m>\n</opencv_storage>\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Full-size maps are large; write one valid set for the viewer tests below and reuse it.
class ViewerMaps : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    cv::Mat x, y;
    stereo::MakeIdentityMaps(768, 1024, &x, &y);
    for (int i = 0; i < 4; ++i)
      ASSERT_TRUE(stereo::SaveMap(dir_->File(stereo::kMapFileNames[i]), i % 2 ? y : x, nullptr));
  }
  static void TearDownTestSuite() { delete dir_; }

  // A copy of the valid set with one file replaced.
  void CopyWith(const TempDir& target, const std::string& name, const std::string& content) {
    for (const char* file : stereo::kMapFileNames) {
      std::ifstream in(dir_->File(file), std::ios::binary);
      std::ofstream out(target.File(file), std::ios::binary);
      out << in.rdbuf();
    }
    if (!name.empty()) WriteText(target.File(name), content);
  }

  static TempDir* dir_;
};
TempDir* ViewerMaps::dir_ = nullptr;

TEST_F(ViewerMaps, AreReadFromTheWorkingDirectoryByDefault) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir_->path().c_str()), 0);
  ViewerHarness h;
  auto viewer = h.MakeViewer(app::ViewerConfig{});
  const bool ok = viewer->InitResources();
  ASSERT_EQ(chdir(previous), 0);
  ASSERT_TRUE(ok) << app::ErrorText;

  // From anywhere else they are not found.
  ViewerHarness elsewhere;
  auto other = elsewhere.MakeViewer(app::ViewerConfig{});
  EXPECT_FALSE(other->InitResources());
  EXPECT_STREQ(app::ErrorText, "Nelze načíst rektifikační mapu mx1.xml!");
}

TEST_F(ViewerMaps, ABadFileNamesTheFirstBadOneInLoadOrderAndTheProgramEndsWithTheBox) {
  TempDir dir;
  CopyWith(dir, "my1.xml", "<?xml version=\"1.0\"?>\n<opencv_storage>\n");
  WriteText(dir.File("mx2.xml"), OldFormatMatrix("mx2", 480, 640, "f", {}));
  ViewerHarness h;
  app::ViewerConfig config;
  config.mapDirectory = dir.path();
  EXPECT_EQ(app::WinMain(h.MakePlatform(), config), 0);
  ASSERT_EQ(h.window->boxes.size(), 1u);
  EXPECT_EQ(h.window->boxes[0], "Nelze načíst rektifikační mapu my1.xml!");
  EXPECT_EQ(h.window->log.size(), 1u) << "nothing after the maps is set up, only the box";
}

TEST_F(ViewerMaps, AWrongSizedMapIsRefusedByName) {
  TempDir dir;
  cv::Mat x, y;
  stereo::MakeIdentityMaps(480, 640, &x, &y);
  CopyWith(dir, "", "");
  ASSERT_TRUE(stereo::SaveMap(dir.File("my2.xml"), y, nullptr));
  ViewerHarness h;
  app::ViewerConfig config;
  config.mapDirectory = dir.path();
  auto viewer = h.MakeViewer(config);
  EXPECT_FALSE(viewer->InitResources());
  EXPECT_STREQ(app::ErrorText, "Nelze načíst rektifikační mapu my2.xml!");
}

}  // namespace
