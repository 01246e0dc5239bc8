// Fuzz driver for the map loader: the input is a whole map file, read as the viewer reads
// "mx1.xml" and friends. A map that loads must have the asked shape and survive the conversion and
// remapping the frame step does with it; a refused one must say why and leave the map alone.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "stereo/rectification_maps.h"

namespace fuzz {

// One scratch file per process, in memory where the system has a memory file system.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path shm = "/dev/shm";
    const std::filesystem::path base = std::filesystem::is_directory(shm, ec) && ::access("/dev/shm", W_OK) == 0
                                           ? shm
                                           : std::filesystem::temp_directory_path();
    path_ = (base / (name + "-" + std::to_string(::getpid()) + ".xml")).string();
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (!file) return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The shape the driver asks for: small, so that a fuzzer can write a whole valid map.
inline constexpr int kFuzzMapRows = 3;
inline constexpr int kFuzzMapCols = 4;

// Empty when every property held; otherwise what went wrong.
inline std::string CheckMapFile(const std::uint8_t* data, std::size_t size) {
  static const ScratchFile scratch("viewer-map-fuzz");
  if (!scratch.Write(data, size)) return {};  // nothing to learn without the file

  cv::Mat map;
  std::string reason;
  const bool loaded = stereo::LoadMap(scratch.path(), kFuzzMapRows, kFuzzMapCols, &map, &reason);
  if (!loaded) {
    if (reason.empty()) return "refused without a reason";
    if (!map.empty()) return "refused but filled the map";
    return {};
  }
  if (map.type() != CV_32FC1 || map.rows != kFuzzMapRows || map.cols != kFuzzMapCols)
    return "loaded a map of another shape or type";
  // What the viewer does with a loaded pair: the fixed-point conversion, then remapping a frame.
  cv::Mat xy, alpha, frame(kFuzzMapRows, kFuzzMapCols, CV_8UC3, cv::Scalar(10, 20, 30)), rectified;
  cv::convertMaps(map, map, xy, alpha, CV_16SC2);
  if (xy.size() != map.size() || alpha.size() != map.size()) return "conversion changed the size";
  cv::remap(frame, rectified, xy, alpha, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
  if (rectified.size() != frame.size()) return "remapping changed the size";
  return {};
}

}  // namespace fuzz
