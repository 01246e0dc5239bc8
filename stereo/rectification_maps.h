// Rectification maps: reading and writing the XML map files safely, identity maps.
#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace stereo {

inline constexpr const char* kMapFileNames[4] = {"mx1.xml", "my1.xml", "mx2.xml", "my2.xml"};

// Reads the first top-level node of an XML matrix file into a CV_32FC1 map of exactly
// rows x cols. Never throws and never allocates more than the expected size: the header
// (rows, cols, dt, element count) is checked before the data is read, and text that is not plain,
// well-formed XML is refused before the library's reader sees it. On failure `reason` says what was
// wrong, in English.
bool LoadMap(const std::string& path, int rows, int cols, cv::Mat* map, std::string* reason);

// Writes a map atomically (temporary file, read back with LoadMap and synced, then renamed over
// `path`) in the XML matrix format that old and new readers accept (type_id="opencv-matrix",
// dt "f"). The matrix is named after the file ("mx1" for "mx1.xml"). False with `reason` on
// failure; no partial file is left behind and an existing file at `path` is untouched.
bool SaveMap(const std::string& path, const cv::Mat& map, std::string* reason);

// x map holding each column's own index, y map each row's: remapping with them changes nothing.
void MakeIdentityMaps(int rows, int cols, cv::Mat* mapX, cv::Mat* mapY);

}  // namespace stereo
