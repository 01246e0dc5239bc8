#include "tools/stereo_maps/map_set.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "stereo/rectification_maps.h"

namespace stereo_maps {

namespace fs = std::filesystem;

bool PrepareOutputDirectory(const std::string& dir, std::string* reason) {
  std::error_code ec;
  const fs::path path = dir.empty() ? fs::path(".") : fs::path(dir);
  if (!fs::exists(path, ec)) {
    fs::create_directories(path, ec);
    if (ec) {
      *reason = "cannot create it: " + ec.message();
      return false;
    }
  }
  if (!fs::is_directory(path, ec)) {
    *reason = "not a directory";
    return false;
  }
  std::string probe = (path / ".stereo-maps-probe-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    *reason = "cannot create a file in it: " + std::error_code(errno, std::generic_category()).message();
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

StagedFiles::StagedFiles(fs::path dir) : dir_(dir.empty() ? fs::path(".") : std::move(dir)) {}

StagedFiles::~StagedFiles() {
  std::error_code ec;
  for (const Entry& entry : entries_) fs::remove(entry.staging, ec);
}

bool StagedFiles::Stage(const std::string& name, const std::function<bool(const std::string&, std::string*)>& write,
                        std::string* reason) {
  Entry entry{dir_ / ("." + name + ".new"), dir_ / name};
  entries_.push_back(entry);  // remembered first, so even a partial file is cleaned up
  std::string why;
  if (!write(entry.staging.string(), &why)) {
    *reason = name + ": " + why;
    return false;
  }
  return true;
}

bool StagedFiles::Commit(std::string* reason) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    std::error_code ec;
    fs::rename(entries_[i].staging, entries_[i].final, ec);
    if (ec) {
      *reason = "cannot put " + entries_[i].final.filename().string() + " in place: " + ec.message();
      entries_.erase(entries_.begin(), entries_.begin() + static_cast<long>(i));
      return false;
    }
  }
  entries_.clear();
  return true;
}

bool StageMaps(StagedFiles& files, const MapSet& maps, std::string* reason) {
  for (size_t i = 0; i < maps.size(); ++i) {
    const cv::Mat& map = maps[i];
    auto write = [&map](const std::string& path, std::string* why) { return stereo::SaveMap(path, map, why); };
    if (!files.Stage(stereo::kMapFileNames[i], write, reason)) return false;
  }
  return true;
}

}  // namespace stereo_maps
