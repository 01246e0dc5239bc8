// How the two views reach the screen. `dual` gives each view a display of its own; every other mode
// composes one picture from both views for a single display: frame-compatible pictures for 3D
// televisions and headsets, an anaglyph for red-cyan glasses, rows interleaved for polarised monitors,
// or one eye alone.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace display {

enum class OutputMode { Dual, SideBySide, SideBySideHalf, TopBottomHalf, Anaglyph, Interlaced, Left, Right };

// The mode a user names on the command line ("side-by-side"), or nothing.
std::optional<OutputMode> OutputModeNamed(const std::string& name);
// Every name, in the order of the enumeration, separated by ", ".
std::string OutputModeNames();

// The picture a mode shows for views of `view` size; dual: one view.
cv::Size PictureSize(OutputMode mode, cv::Size view);

// Where each eye's view lies in the picture (scaled to fit the rectangle): one rectangle for the modes
// that show both eyes in every part of the picture, or only one eye; two, left eye first, otherwise.
// Something drawn at the same place of each rectangle is seen at the same place by both eyes.
std::vector<cv::Rect> EyeAreas(OutputMode mode, cv::Size view);

// Composes the left- and right-eye views (BGR, one size) into `picture` (BGRA, PictureSize; alpha
// unspecified). Not for dual.
void Compose(OutputMode mode, const cv::Mat& left, const cv::Mat& right, cv::Mat& picture);

// The red-cyan anaglyph matrices in thousandths, rows red, green, blue of the output, columns red,
// green, blue of each eye's input.
extern const int kAnaglyphLeft[3][3];
extern const int kAnaglyphRight[3][3];

}  // namespace display
