// The map files: the formats that load, what the writer leaves behind, every kind of bad file refused
// with its reason and without a crash, and a bad file through the viewer.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "app/error_text.h"
#include "stereo/rectification_maps.h"
#include "testing/viewer_harness.h"

using testkit::Slurp;
using testkit::TempDir;
using testkit::ViewerHarness;

namespace {

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A matrix as old releases wrote it: XML declaration, opencv_storage, %.8e floats.
std::string OldFormatMatrix(const std::string& name, int rows, int cols, const std::string& dt, int count) {
  std::string text = "<?xml version=\"1.0\"?>\n<opencv_storage>\n<" + name + " type_id=\"opencv-matrix\">\n  <rows>" +
                     std::to_string(rows) + "</rows>\n  <cols>" + std::to_string(cols) + "</cols>\n  <dt>" + dt +
                     "</dt>\n  <data>\n";
  char number[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(number, sizeof number, "%.8e%s", 0.25 * i - 3.5, i % 4 == 3 ? "\n" : " ");
    text += number;
  }
  return text + "</data></" + name + ">\n</opencv_storage>\n";
}

TEST(MapLoading, ReadsTheOldFormatWhateverTheNodeIsCalled) {
  TempDir dir;
  for (const char* name : {"mx1", "some_other_name"}) {
    WriteText(dir.File("map.xml"), OldFormatMatrix(name, 3, 4, "f", 12));
    cv::Mat map;
    std::string reason;
    ASSERT_TRUE(stereo::LoadMap(dir.File("map.xml"), 3, 4, &map, &reason)) << name << ": " << reason;
    ASSERT_EQ(map.type(), CV_32FC1);
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(map.at<float>(i / 4, i % 4), 0.25f * i - 3.5f);
  }
}

TEST(SaveMap, WritesWhatTheLoaderReadsNamedAfterTheFileAndNothingElse) {
  TempDir dir;
  cv::Mat map(6, 9, CV_32FC1), loaded;
  cv::randu(map, -5000.0f, 5000.0f);
  std::string reason;
  ASSERT_TRUE(stereo::SaveMap(dir.File("my2.xml"), map, &reason)) << reason;
  ASSERT_TRUE(stereo::LoadMap(dir.File("my2.xml"), 6, 9, &loaded, &reason)) << reason;
  EXPECT_EQ(cv::norm(loaded, map, cv::NORM_INF), 0.0);
  EXPECT_NE(Slurp(dir.File("my2.xml")).find("<my2 type_id=\"opencv-matrix\">"), std::string::npos);
  EXPECT_EQ(testkit::Entries(dir.path()), std::vector<std::string>{"my2.xml"}) << "no temporary file left";
}

struct BadMap {
  const char* name;
  std::string content;  // "<dir>": a directory where the file should be; "<none>": nothing there
  const char* reason;   // what the refusal must say
};

class MapLoadingRefuses : public testing::TestWithParam<BadMap> {};

TEST_P(MapLoadingRefuses, WithItsReasonAndNoCrash) {
  TempDir dir;
  if (GetParam().content == "<dir>")
    std::filesystem::create_directory(dir.File("map.xml"));
  else if (GetParam().content != "<none>")
    WriteText(dir.File("map.xml"), GetParam().content);
  cv::Mat map;
  std::string reason;
  EXPECT_FALSE(stereo::LoadMap(dir.File("map.xml"), 3, 4, &map, &reason));
  EXPECT_EQ(reason.find(GetParam().reason), 0u) << reason;
  EXPECT_TRUE(map.empty());
}

const std::string kGood = OldFormatMatrix("m", 3, 4, "f", 12);
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
        BadMap{"Missing", "<none>", "file not found"}, BadMap{"ADirectory", "<dir>", "file not found"},
        BadMap{"Empty", "", "does not start with an XML declaration"},
        BadMap{"NotXml", "P6\n1024 768\n255\n\x01\x02\x03", "holds control characters"},
        BadMap{"NulBytes", kDeclaration + std::string("<opencv_storage>\0\0</opencv_storage>\n", 36),
               "holds NUL bytes"},
        BadMap{"Truncated", kGood.substr(0, kGood.size() / 2), "the file ends inside an element (truncated?)"},
        BadMap{"MisNested", Good("</dt>", "</cols>"), "tags are not properly nested"},
        BadMap{"BadCharacterInAName", Good("<dt>", "<d\xC3\xA9t>"), "a tag holds something other than attributes"},
        BadMap{"BinaryBlock", Good("<data>", "<data type_id=\"binary\">AAAA</dt>"), "holds a node that is not a plain"},
        BadMap{"MarkupInAnAttribute", Good("type_id", "a=\"&amp;\" type_id"), "an attribute value holds markup"},
        BadMap{"UnknownEntity", Good("<dt>f", "<dt>&nbsp;f"), "an unknown entity"},
        BadMap{"Cdata", Good("<dt>f", "<dt><![CDATA[f]]>"), "holds markup other than elements"},
        BadMap{"UnclosedComment", Good("<rows>", "<!-- <rows>"), "a comment is not closed"},
        BadMap{"TwoRoots", kGood + "<m/>", "more than one root element"},
        BadMap{"NoRoot", kDeclaration, "no root element"},
        BadMap{"TooDeep", kDeclaration + Repeated("<a>", 40) + Repeated("</a>", 40), "elements are nested too deeply"},
        BadMap{"NodeIsANumber", kDeclaration + "<opencv_storage>\n<m>42</m>\n</opencv_storage>\n", "the first node"},
        BadMap{"TypeIsANumber", OldFormatMatrix("m", 3, 4, "5", 12), "the first node is not a matrix"},
        BadMap{"Doubles", OldFormatMatrix("m", 3, 4, "d", 12), "elements are 'd'"},
        BadMap{"TwoChannels", OldFormatMatrix("m", 3, 2, "\"2f\"", 12), "elements are '2f'"},
        BadMap{"WrongSize", OldFormatMatrix("m", 4, 3, "f", 12), "size 3 x 4, expected 4 x 3"},
        BadMap{"TooFewValues", OldFormatMatrix("m", 3, 4, "f", 11), "holds 11 values, expected 12"},
        BadMap{"HugeHeader", OldFormatMatrix("m", 200000, 200000, "f", 12), "size 200000 x 200000"},
        BadMap{"NegativeSize", OldFormatMatrix("m", -3, 4, "f", 12), "size 4 x -3"},
        BadMap{"GarbageValues",
               kDeclaration + "<opencv_storage>\n<m type_id=\"opencv-matrix\"><rows>3</rows><cols>4</cols>"
                              "<dt>f</dt><data>a b c d e f g h i j k l</data></m>\n</opencv_storage>\n",
               "malformed"}),
    [](const auto& info) { return std::string(info.param.name); });

// The viewer reads the four files from the working directory unless told otherwise, and a bad one
// ends the run with the box naming the first bad file in load order, its reason on standard error.
TEST(ViewerMaps, AreReadFromTheWorkingDirectoryAndABadOneEndsTheRunWithTheBox) {
  TempDir dir;
  cv::Mat x, y;
  stereo::MakeIdentityMaps(768, 1024, &x, &y);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(stereo::SaveMap(dir.File(stereo::kMapFileNames[i]), i % 2 ? y : x, nullptr));
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  ViewerHarness h;
  const bool loaded = h.MakeViewer(app::ViewerConfig{})->InitResources();
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(loaded) << app::ErrorText;
  ViewerHarness elsewhere;
  EXPECT_FALSE(elsewhere.MakeViewer(app::ViewerConfig{})->InitResources()) << "not found from elsewhere";
  EXPECT_STREQ(app::ErrorText, "Nelze načíst rektifikační mapu mx1.xml!");

  WriteText(dir.File("my1.xml"), kDeclaration + "<opencv_storage>\n");
  WriteText(dir.File("mx2.xml"), "");
  ViewerHarness run;
  app::ViewerConfig config;
  config.mapDirectory = dir.path();
  testing::internal::CaptureStderr();
  EXPECT_EQ(app::WinMain(run.MakePlatform(), config), 0);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(run.window->boxes, std::vector<std::string>{"Nelze načíst rektifikační mapu my1.xml!"});
  EXPECT_NE(said.find("rectification map " + dir.File("my1.xml") + ": the file ends inside an element (truncated?)\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("mx2.xml"), std::string::npos) << "loading stops at the first bad file";
  EXPECT_EQ(run.window->log.size(), 1u) << "nothing after the maps is set up, only the box";
}

}  // namespace
