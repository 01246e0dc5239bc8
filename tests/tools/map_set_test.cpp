#include "tools/stereo_maps/map_set.h"

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/tools/temp_dir.h"

namespace {

using stereo_maps::StagedFiles;
using test_tools::TempDir;

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(StagedFiles, CommitPutsEveryFileInPlace) {
  TempDir dir;
  ASSERT_TRUE(WriteText(dir / "a.txt", "old a"));
  std::string reason;
  {
    StagedFiles files(dir.path());
    ASSERT_TRUE(files.Stage(
        "a.txt", [](const std::string& p, std::string*) { return WriteText(p, "new a"); }, &reason));
    ASSERT_TRUE(files.Stage(
        "b.txt", [](const std::string& p, std::string*) { return WriteText(p, "new b"); }, &reason));
    EXPECT_EQ(Slurp(dir / "a.txt"), "old a") << "nothing replaced before the commit";
    EXPECT_EQ(Sorted(dir.Entries()), (std::vector<std::string>{".a.txt.new", ".b.txt.new", "a.txt"}));
    ASSERT_TRUE(files.Commit(&reason)) << reason;
  }
  EXPECT_EQ(Slurp(dir / "a.txt"), "new a");
  EXPECT_EQ(Slurp(dir / "b.txt"), "new b");
  EXPECT_EQ(Sorted(dir.Entries()), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(StagedFiles, AFailedStageLeavesTheDirectoryAsItWas) {
  TempDir dir;
  ASSERT_TRUE(WriteText(dir / "a.txt", "old a"));
  std::string reason;
  {
    StagedFiles files(dir.path());
    ASSERT_TRUE(files.Stage(
        "a.txt", [](const std::string& p, std::string*) { return WriteText(p, "new a"); }, &reason));
    auto halfWritten = [](const std::string& p, std::string* why) {
      WriteText(p, "partial");
      *why = "disk full";
      return false;
    };
    EXPECT_FALSE(files.Stage("b.txt", halfWritten, &reason));
    EXPECT_EQ(reason, "b.txt: disk full");
  }
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(Slurp(dir / "a.txt"), "old a");
}

TEST(PrepareOutputDirectory, CreatesMissingDirectoriesAndRefusesFiles) {
  TempDir dir;
  std::string reason;
  EXPECT_TRUE(stereo_maps::PrepareOutputDirectory(dir / "new/nested", &reason)) << reason;
  EXPECT_TRUE(std::filesystem::is_directory(dir / "new/nested"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "new/nested")) << "the probe file is gone";

  ASSERT_TRUE(WriteText(dir / "file", "x"));
  EXPECT_FALSE(stereo_maps::PrepareOutputDirectory(dir / "file", &reason));
  EXPECT_EQ(reason, "not a directory");
  EXPECT_FALSE(stereo_maps::PrepareOutputDirectory(dir / "file/sub", &reason));
  EXPECT_EQ(reason.rfind("cannot create it: ", 0), 0u);
}

}  // namespace
