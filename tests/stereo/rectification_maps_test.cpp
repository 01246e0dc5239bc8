// Reading the map files: the formats that must load, and every bad file refused without a crash.
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "app/error_text.h"
#include "stereo/rectification_maps.h"
#include "tests/support/viewer_harness.h"

using testing_support::TempDir;
using testing_support::ViewerHarness;

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
  std::string content;
  const char* reason;  // what the refusal must say
  enum class Kind { File, Missing, Directory } kind = Kind::File;
};

class MapLoadingRefuses : public testing::TestWithParam<BadMap> {};

TEST_P(MapLoadingRefuses, WithItsReasonAndNoCrash) {
  TempDir dir;
  if (GetParam().kind == BadMap::Kind::File) WriteText(dir.File("map.xml"), GetParam().content);
  if (GetParam().kind == BadMap::Kind::Directory) std::filesystem::create_directory(dir.File("map.xml"));
  cv::Mat map;
  std::string reason;
  EXPECT_FALSE(stereo::LoadMap(dir.File("map.xml"), 3, 4, &map, &reason));
  EXPECT_NE(reason.find(GetParam().reason), std::string::npos) << reason;
  EXPECT_TRUE(map.empty());
}

const std::string kGood = OldFormatMatrix("m", 3, 4, "f", Ramp(12));
const std::string kDeclaration = "<?xml version=\"1.0\"?>\n";

// kGood with its first `from` replaced by `to`.
std::string Good(const std::string& from, const std::string& to) {
  std::string text = kGood;
  return text.replace(text.find(from), from.size(), to);
}

std::string Repeated(const std::string& text, int times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

// Files the library's reader hung or crashed on are refused before it sees them; the others reach it
// and are refused on their header or values, before anything of the claimed size is allocated.
INSTANTIATE_TEST_SUITE_P(
    EveryBadFile, MapLoadingRefuses,
    testing::Values(
        BadMap{"Missing", "", "file not found", BadMap::Kind::Missing},
        BadMap{"ADirectory", "", "file not found", BadMap::Kind::Directory},
        BadMap{"Empty", "", "does not start with an XML declaration"},
        BadMap{"NotXml", "P6\n1024 768\n255\n\x01\x02\x03", "control characters"},
        BadMap{"NulBytes", kDeclaration + std::string("<opencv_storage>\0\0</opencv_storage>\n", 36), "NUL bytes"},
        BadMap{"TruncatedDeclaration", "<?xml version=", "the XML declaration is not closed"},
        BadMap{"Truncated", kGood.substr(0, kGood.size() / 2), "ends inside an element (truncated?)"},
        BadMap{"MisNested", Good("</dt>", "</cols>"), "not properly nested"},
        BadMap{"BinaryBlock", Good("<data>", "<data type_id=\"binary\">AAAA</dt>"), "not a plain matrix"},
        BadMap{"MalformedAttribute", Good("type_id=\"opencv-matrix\"", "type_id=opencv-matrix"), "malformed attribute"},
        BadMap{"MarkupInAnAttribute", Good("type_id", "a=\"<\" type_id"), "attribute value holds markup"},
        BadMap{"UnknownEntity", Good("<dt>f", "<dt>&f;f"), "unknown entity"},
        BadMap{"StrayAmpersand", Good("<dt>f", "<dt>& f"), "stray '&'"},
        BadMap{"Cdata", Good("<dt>f", "<dt><![CDATA[f]]>"), "other than elements"},
        BadMap{"UnclosedComment", Good("<rows>", "<!-- <rows>"), "comment is not closed"},
        BadMap{"TwoRoots", kGood + "<m/>", "more than one root element"},
        BadMap{"TextAfterTheRoot", kGood + "text", "text outside the root element"},
        BadMap{"NoRoot", kDeclaration, "no root element"},
        BadMap{"TooDeep", kDeclaration + Repeated("<a>", 40) + Repeated("</a>", 40), "nested too deeply"},
        BadMap{"NodeIsANumber", kDeclaration + "<opencv_storage>\n<m>42</m>\n</opencv_storage>\n", "not a matrix"},
        BadMap{"Doubles", OldFormatMatrix("m", 3, 4, "d", Ramp(12)), "elements are 'd'"},
        BadMap{"TwoChannels", OldFormatMatrix("m", 3, 2, "\"2f\"", Ramp(12)), "elements are '2f'"},
        BadMap{"WrongSize", OldFormatMatrix("m", 4, 3, "f", Ramp(12)), "size 3 x 4, expected 4 x 3"},
        BadMap{"TooFewValues", OldFormatMatrix("m", 3, 4, "f", Ramp(11)), "holds 11 values, expected 12"},
        BadMap{"TooManyValues", OldFormatMatrix("m", 3, 4, "f", Ramp(13)), "holds 13 values, expected 12"},
        BadMap{"HugeHeader", OldFormatMatrix("m", 200000, 200000, "f", Ramp(12)), "size 200000 x 200000"},
        BadMap{"NegativeSize", OldFormatMatrix("m", -3, 4, "f", Ramp(12)), "size 4 x -3"},
        BadMap{"GarbageValues",
               kDeclaration + "<opencv_storage>\n<m type_id=\"opencv-matrix\"><rows>3</rows><cols>4</cols>"
                              "<dt>f</dt><data>a b c d e f g h i j k l</data></m>\n</opencv_storage>\n",
               "malformed"}),
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
  EXPECT_FLOAT_EQ(viewer->mapX1.at<float>(10, 700), 700.0f);
  EXPECT_FLOAT_EQ(viewer->mapY2.at<float>(500, 3), 500.0f);

  // From anywhere else they are not found.
  ViewerHarness elsewhere;
  auto other = elsewhere.MakeViewer(app::ViewerConfig{});
  EXPECT_FALSE(other->InitResources());
  EXPECT_STREQ(app::ErrorText, "Nelze načíst rektifikační mapu mx1.xml!");
}

// The program-level case: the first bad file in load order is named in the box and, with its reason,
// on standard error; nothing after the maps is set up.
TEST_F(ViewerMaps, ABadFileNamesTheFirstBadOneInLoadOrderAndTheProgramEndsWithTheBox) {
  TempDir dir;
  CopyWith(dir, "my1.xml", "<?xml version=\"1.0\"?>\n<opencv_storage>\n");
  WriteText(dir.File("mx2.xml"), OldFormatMatrix("mx2", 480, 640, "f", {}));
  ViewerHarness h;
  app::ViewerConfig config;
  config.mapDirectory = dir.path();
  testing::internal::CaptureStderr();
  EXPECT_EQ(app::WinMain(h.MakePlatform(), config), 0);
  const std::string said = testing::internal::GetCapturedStderr();
  ASSERT_EQ(h.window->boxes.size(), 1u);
  EXPECT_EQ(h.window->boxes[0], "Nelze načíst rektifikační mapu my1.xml!");
  EXPECT_NE(said.find("rectification map " + dir.File("my1.xml") + ": the file ends inside an element (truncated?)\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("mx2.xml"), std::string::npos) << "loading stops at the first bad file";
  EXPECT_FALSE(h.window->registered) << "nothing after the maps is set up";
  EXPECT_EQ(h.display->systemsCreated, 0);
}

}  // namespace
