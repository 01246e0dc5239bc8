#include "display/output_modes.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include <opencv2/imgproc.hpp>

namespace display {

namespace {

constexpr std::array<std::pair<OutputMode, const char*>, 8> kNames = {{
    {OutputMode::Dual, "dual"},
    {OutputMode::SideBySide, "side-by-side"},
    {OutputMode::SideBySideHalf, "side-by-side-half"},
    {OutputMode::TopBottomHalf, "top-bottom-half"},
    {OutputMode::Anaglyph, "anaglyph"},
    {OutputMode::Interlaced, "interlaced"},
    {OutputMode::Left, "left"},
    {OutputMode::Right, "right"},
}};

// Every other row of `image`, from row `first` on, as an image of its own (no copy).
cv::Mat EveryOtherRow(const cv::Mat& image, int first) {
  const int rows = (image.rows - first + 1) / 2;
  return cv::Mat(rows, image.cols, image.type(), const_cast<uchar*>(image.ptr(first)), image.step[0] * 2);
}

// Squeezes a view into its part of the picture by averaging (the picture is stretched back by the
// television or headset).
void Squeezed(const cv::Mat& view, const cv::Rect& area, cv::Mat& scratch, cv::Mat& picture) {
  cv::resize(view, scratch, area.size(), 0, 0, cv::INTER_AREA);
  cv::Mat target = picture(area);
  cv::cvtColor(scratch, target, cv::COLOR_BGR2BGRA);
}

// Rounded to the nearest value, halves up (no library call: this runs three times a pixel).
std::uint8_t Clamped(float value) { return static_cast<std::uint8_t>(std::clamp(value, 0.0f, 255.0f) + 0.5f); }

void Anaglyph(const cv::Mat& left, const cv::Mat& right, cv::Mat& picture) {
  // Weights per input byte (blue, green, red order of the images), scaled to 0..255 values.
  float l[3][3], r[3][3];
  for (int out = 0; out < 3; ++out)
    for (int in = 0; in < 3; ++in) {
      l[out][2 - in] = kAnaglyphLeft[out][in];
      r[out][2 - in] = kAnaglyphRight[out][in];
    }
  for (int y = 0; y < picture.rows; ++y) {
    const std::uint8_t* a = left.ptr(y);
    const std::uint8_t* b = right.ptr(y);
    std::uint8_t* p = picture.ptr(y);
    for (int x = 0; x < picture.cols; ++x, a += 3, b += 3, p += 4) {
      const float a0 = a[0], a1 = a[1], a2 = a[2], b0 = b[0], b1 = b[1], b2 = b[2];
      float out[3];
      for (int c = 0; c < 3; ++c)
        out[c] = l[c][0] * a0 + l[c][1] * a1 + l[c][2] * a2 + r[c][0] * b0 + r[c][1] * b1 + r[c][2] * b2;
      // Output rows are red, green, blue; the picture's bytes blue, green, red.
      p[0] = Clamped(out[2]);
      p[1] = Clamped(out[1]);
      p[2] = Clamped(out[0]);
      p[3] = 0xFF;
    }
  }
}

}  // namespace

// Eric Dubois' least-squares red-cyan matrices ("A projection method to generate anaglyph stereo
// images", ICASSP 2001, and the matrices he published for red-cyan glasses): the anaglyph whose
// colours, seen through the filters, come closest to what each eye should see. They are applied to
// the pixel values as they are and the result is clipped, as is usual for live pictures.
const float kAnaglyphLeft[3][3] = {
    {0.437f, 0.449f, 0.164f},
    {-0.062f, -0.062f, -0.024f},
    {-0.048f, -0.050f, -0.017f},
};
const float kAnaglyphRight[3][3] = {
    {-0.011f, -0.032f, -0.007f},
    {0.377f, 0.761f, 0.009f},
    {-0.026f, -0.093f, 1.234f},
};

std::optional<OutputMode> OutputModeNamed(const std::string& name) {
  for (const auto& [mode, text] : kNames)
    if (name == text) return mode;
  return std::nullopt;
}

std::string OutputModeNames() {
  std::string names;
  for (const auto& [mode, text] : kNames) names += (names.empty() ? "" : ", ") + std::string(text);
  return names;
}

cv::Size PictureSize(OutputMode mode, cv::Size view) {
  switch (mode) {
    case OutputMode::SideBySide: return {view.width * 2, view.height};
    case OutputMode::SideBySideHalf: return {view.width / 2 * 2, view.height};
    case OutputMode::TopBottomHalf: return {view.width, view.height / 2 * 2};
    default: return view;
  }
}

std::vector<cv::Rect> EyeAreas(OutputMode mode, cv::Size view) {
  const int w = view.width, h = view.height;
  switch (mode) {
    case OutputMode::SideBySide: return {{0, 0, w, h}, {w, 0, w, h}};
    case OutputMode::SideBySideHalf: return {{0, 0, w / 2, h}, {w / 2, 0, w / 2, h}};
    case OutputMode::TopBottomHalf: return {{0, 0, w, h / 2}, {0, h / 2, w, h / 2}};
    default: return {{0, 0, w, h}};
  }
}

void Compose(OutputMode mode, const cv::Mat& left, const cv::Mat& right, cv::Mat& picture, ComposeScratch& scratch) {
  const std::vector<cv::Rect> areas = EyeAreas(mode, left.size());
  switch (mode) {
    case OutputMode::Dual:
    case OutputMode::SideBySide:
      for (int eye = 0; eye < 2; ++eye) {
        cv::Mat target = picture(areas[eye]);
        cv::cvtColor(eye == 0 ? left : right, target, cv::COLOR_BGR2BGRA);
      }
      break;
    case OutputMode::SideBySideHalf:
    case OutputMode::TopBottomHalf:
      Squeezed(left, areas[0], scratch.squeezed[0], picture);
      Squeezed(right, areas[1], scratch.squeezed[1], picture);
      break;
    case OutputMode::Anaglyph: Anaglyph(left, right, picture); break;
    case OutputMode::Interlaced:
      // Even rows (0, 2, ...) for the left eye, as passive polarised monitors number them.
      for (int eye = 0; eye < 2; ++eye) {
        cv::Mat target = EveryOtherRow(picture, eye);
        cv::cvtColor(EveryOtherRow(eye == 0 ? left : right, eye), target, cv::COLOR_BGR2BGRA);
      }
      break;
    case OutputMode::Left:
    case OutputMode::Right: cv::cvtColor(mode == OutputMode::Left ? left : right, picture, cv::COLOR_BGR2BGRA); break;
  }
}

}  // namespace display
