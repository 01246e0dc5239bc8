// stereo-maps: makes the viewer's rectification maps from chessboard photos of a camera pair.
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/core/utils/logger.hpp>

#include "tools/stereo_maps/stereo_maps.h"

int main(int argc, char** argv) {
  // The library's own warnings (an unreadable file, say) would interleave with the tool's one-line
  // messages, which already say what went wrong.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return stereo_maps::RunStereoMaps(args, std::cout, std::cerr);
}
