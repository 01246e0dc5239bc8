// Output of stereo-maps: a directory that is checked up front, and files that are staged and then
// put in place together, so a failed or interrupted run leaves no half-written map behind.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace stereo_maps {

// Creates `dir` when it is missing and proves it writable by creating and removing a file in it.
bool PrepareOutputDirectory(const std::string& dir, std::string* reason);

// Files written under hidden staging names (".mx1.xml.new") that the viewer never opens, renamed
// onto their real names only by Commit. Whatever was staged and not committed is removed when the
// object goes away.
class StagedFiles {
 public:
  explicit StagedFiles(std::filesystem::path dir);
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // `write` receives the staging path and must leave a complete file there or return false.
  bool Stage(const std::string& name, const std::function<bool(const std::string&, std::string*)>& write,
             std::string* reason);
  // Renames every staged file onto its name, in staging order.
  bool Commit(std::string* reason);

 private:
  struct Entry {
    std::filesystem::path staging;
    std::filesystem::path final;
  };
  std::filesystem::path dir_;
  std::vector<Entry> entries_;
};

// mx1, my1, mx2, my2 in this order.
using MapSet = std::array<cv::Mat, 4>;

// Stages the four maps under their viewer names.
bool StageMaps(StagedFiles& files, const MapSet& maps, std::string* reason);

}  // namespace stereo_maps
