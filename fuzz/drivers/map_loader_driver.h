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

// One scratch file per process, in memory where the system has a memory file system; removed at exit.
struct ScratchFile {
  const std::string path =
      ((::access("/dev/shm", W_OK) == 0 ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path()) /
       ("viewer-map-fuzz-" + std::to_string(::getpid()) + ".xml"))
          .string();
  ~ScratchFile() { std::remove(path.c_str()); }
};

// Empty when every property held; otherwise what went wrong.
inline std::string CheckMapFile(const std::uint8_t* data, std::size_t size) {
  constexpr int kRows = 3, kCols = 4;  // small, so that a fuzzer can write a whole valid map
  static const ScratchFile scratch;
  std::FILE* file = std::fopen(scratch.path.c_str(), "wb");
  if (!file) return {};  // nothing to learn without the file
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return {};

  cv::Mat map;
  std::string reason;
  if (!stereo::LoadMap(scratch.path, kRows, kCols, &map, &reason))
    return reason.empty() ? "refused without a reason" : map.empty() ? "" : "refused but filled the map";
  if (map.type() != CV_32FC1 || map.rows != kRows || map.cols != kCols) return "loaded a map of another shape or type";
  // What the viewer does with a loaded pair: the fixed-point conversion, then remapping a frame.
  cv::Mat xy, alpha, frame(kRows, kCols, CV_8UC3, cv::Scalar(10, 20, 30)), rectified;
  cv::convertMaps(map, map, xy, alpha, CV_16SC2);
  if (xy.size() != map.size() || alpha.size() != map.size()) return "conversion changed the size";
  cv::remap(frame, rectified, xy, alpha, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
  return rectified.size() == frame.size() ? "" : "remapping changed the size";
}

}  // namespace fuzz
