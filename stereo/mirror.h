// Mirrored cameras: rigs with a beam splitter or a mirror see one eye's scene reversed. A side's
// frames are mirrored before rectification, and its maps are made for the mirrored frames.
#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace stereo {

enum class Mirror { None, Horizontal, Vertical, Both };

// "h", "v" or "hv" (also "vh"); false for anything else.
bool ParseMirror(const std::string& text, Mirror* mirror);

// The image mirrored (a copy; `image` itself when there is nothing to do).
cv::Mat Mirrored(const cv::Mat& image, Mirror mirror);

// Maps (destination to source, as remap reads them) that first mirror a source of the maps' own size
// and then apply `mapX`, `mapY`: remapping a frame with the result equals remapping the mirrored
// frame with the originals, at no cost per frame.
void MirrorMapSource(Mirror mirror, cv::Mat* mapX, cv::Mat* mapY);

}  // namespace stereo
