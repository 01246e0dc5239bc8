#include "display/output_modes.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include <opencv2/core/hal/intrin.hpp>
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

// Half width: each pixel of the picture the mean of two side by side, rounded half up (the television
// or headset stretches the picture back).
void HalfWidth(const cv::Mat& view, cv::Mat target) {
  for (int y = 0; y < target.rows; ++y) {
    const std::uint8_t* v = view.ptr(y);
    std::uint8_t* p = target.ptr(y);
    std::ptrdiff_t x = 0;
#if CV_SIMD128
    // Eight pairs of pixels (48 bytes) read as three planes of 16-bit words: b0|g0, r0|b1, g1|r1.
    const cv::v_uint16x8 low = cv::v_setall_u16(0xFF), one = cv::v_setall_u16(1);
    const cv::v_uint8x16 opaque = cv::v_setall_u8(0xFF);
    for (; x + 16 <= target.cols; x += 16) {
      cv::v_uint16x8 mean[2][3];
      for (std::ptrdiff_t half = 0; half < 2; ++half) {
        cv::v_uint16x8 w0, w1, w2;
        cv::v_load_deinterleave(reinterpret_cast<const ushort*>(v + 6 * (x + 8 * half)), w0, w1, w2);
        mean[half][0] = ((w0 & low) + (w1 >> 8) + one) >> 1;
        mean[half][1] = ((w0 >> 8) + (w2 & low) + one) >> 1;
        mean[half][2] = ((w1 & low) + (w2 >> 8) + one) >> 1;
      }
      cv::v_store_interleave(p + 4 * x, cv::v_pack(mean[0][0], mean[1][0]), cv::v_pack(mean[0][1], mean[1][1]),
                             cv::v_pack(mean[0][2], mean[1][2]), opaque);
    }
#endif
    for (; x < target.cols; ++x) {
      for (int c = 0; c < 3; ++c) p[4 * x + c] = static_cast<std::uint8_t>((v[6 * x + c] + v[6 * x + 3 + c] + 1) >> 1);
      p[4 * x + 3] = 0xFF;
    }
  }
}

#if CV_SIMD128
cv::v_uint8x16 Mean(const cv::v_uint8x16& a, const cv::v_uint8x16& b) {
  cv::v_uint16x8 a0, a1, b0, b1;
  cv::v_expand(a, a0, a1);
  cv::v_expand(b, b0, b1);
  return cv::v_rshr_pack<1>(a0 + b0, a1 + b1);
}
#endif

// Half height: each pixel the mean of two one above the other, rounded half up.
void HalfHeight(const cv::Mat& view, cv::Mat target) {
  for (int y = 0; y < target.rows; ++y) {
    const std::uint8_t* a = view.ptr(2 * y);
    const std::uint8_t* b = view.ptr(2 * y + 1);
    std::uint8_t* p = target.ptr(y);
    std::ptrdiff_t x = 0;
#if CV_SIMD128
    const cv::v_uint8x16 opaque = cv::v_setall_u8(0xFF);
    for (; x + 16 <= target.cols; x += 16) {
      cv::v_uint8x16 a0, a1, a2, b0, b1, b2;
      cv::v_load_deinterleave(a + 3 * x, a0, a1, a2);
      cv::v_load_deinterleave(b + 3 * x, b0, b1, b2);
      cv::v_store_interleave(p + 4 * x, Mean(a0, b0), Mean(a1, b1), Mean(a2, b2), opaque);
    }
#endif
    for (; x < target.cols; ++x) {
      for (int c = 0; c < 3; ++c) p[4 * x + c] = static_cast<std::uint8_t>((a[3 * x + c] + b[3 * x + c] + 1) >> 1);
      p[4 * x + 3] = 0xFF;
    }
  }
}

// Each output byte of a pixel (blue, green, red) from each input byte of both eyes, as (left, right)
// pairs of whole thousandths; rows of the published matrices are red, green, blue.
struct AnaglyphWeights {
  AnaglyphWeights() {
    for (int row = 0; row < 3; ++row)
      for (int column = 0; column < 3; ++column) {
        pair[2 - row][2 - column][0] = kAnaglyphLeft[row][column];
        pair[2 - row][2 - column][1] = kAnaglyphRight[row][column];
      }
  }
  int pair[3][3][2];
};

// Sums of thousandths are exact; the one division rounds to the nearest value (halves to even), and
// the result is clipped to 0..255.
void Anaglyph(const cv::Mat& left, const cv::Mat& right, cv::Mat& picture) {
  static const AnaglyphWeights w;
  for (int y = 0; y < picture.rows; ++y) {
    const std::uint8_t* a = left.ptr(y);
    const std::uint8_t* b = right.ptr(y);
    std::uint8_t* p = picture.ptr(y);
    std::ptrdiff_t x = 0;
#if CV_SIMD128
    // Sixteen pixels at a time: each (left, right) pair of a channel multiplied by its pair of weights
    // and summed in 32 bits.
    cv::v_int16x8 k[3][3];
    for (int out = 0; out < 3; ++out)
      for (int in = 0; in < 3; ++in) {
        const short l = static_cast<short>(w.pair[out][in][0]), r = static_cast<short>(w.pair[out][in][1]);
        k[out][in] = cv::v_int16x8(l, r, l, r, l, r, l, r);
      }
    const cv::v_float32x4 thousandth = cv::v_setall_f32(0.001f);
    const cv::v_uint8x16 opaque = cv::v_setall_u8(0xFF);
    for (; x + 16 <= picture.cols; x += 16) {
      cv::v_uint8x16 l[3], r[3];
      cv::v_load_deinterleave(a + 3 * x, l[0], l[1], l[2]);
      cv::v_load_deinterleave(b + 3 * x, r[0], r[1], r[2]);
      cv::v_int16x8 pairs[3][4];  // per input channel, four groups of four pixels: l0 r0 l1 r1 ...
      for (int in = 0; in < 3; ++in) {
        cv::v_uint16x8 l0, l1, r0, r1, z[4];
        cv::v_expand(l[in], l0, l1);
        cv::v_expand(r[in], r0, r1);
        cv::v_zip(l0, r0, z[0], z[1]);
        cv::v_zip(l1, r1, z[2], z[3]);
        for (int q = 0; q < 4; ++q) pairs[in][q] = cv::v_reinterpret_as_s16(z[q]);
      }
      cv::v_uint8x16 bytes[3];
      for (int out = 0; out < 3; ++out) {
        cv::v_int32x4 rounded[4];
        for (int q = 0; q < 4; ++q) {
          cv::v_int32x4 sum = cv::v_dotprod(pairs[0][q], k[out][0]);
          sum = cv::v_dotprod(pairs[1][q], k[out][1], sum);
          sum = cv::v_dotprod(pairs[2][q], k[out][2], sum);
          rounded[q] = cv::v_round(cv::v_cvt_f32(sum) * thousandth);
        }
        bytes[out] = cv::v_pack_u(cv::v_pack(rounded[0], rounded[1]), cv::v_pack(rounded[2], rounded[3]));
      }
      cv::v_store_interleave(p + 4 * x, bytes[0], bytes[1], bytes[2], opaque);
    }
#endif
    for (; x < picture.cols; ++x) {
      for (int out = 0; out < 3; ++out) {
        int sum = 0;
        for (int in = 0; in < 3; ++in) sum += w.pair[out][in][0] * a[3 * x + in] + w.pair[out][in][1] * b[3 * x + in];
        p[4 * x + out] = cv::saturate_cast<std::uint8_t>(cvRound(static_cast<float>(sum) * 0.001f));
      }
      p[4 * x + 3] = 0xFF;
    }
  }
}

}  // namespace

// Eric Dubois' least-squares red-cyan matrices ("A projection method to generate anaglyph stereo
// images", ICASSP 2001, and the matrices he published for red-cyan glasses): the anaglyph whose
// colours, seen through the filters, come closest to what each eye should see. They are applied to
// the pixel values as they are and the result is clipped, as is usual for live pictures.
const int kAnaglyphLeft[3][3] = {
    {437, 449, 164},
    {-62, -62, -24},
    {-48, -50, -17},
};
const int kAnaglyphRight[3][3] = {
    {-11, -32, -7},
    {377, 761, 9},
    {-26, -93, 1234},
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

void Compose(OutputMode mode, const cv::Mat& left, const cv::Mat& right, cv::Mat& picture) {
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
      HalfWidth(left, picture(areas[0]));
      HalfWidth(right, picture(areas[1]));
      break;
    case OutputMode::TopBottomHalf:
      HalfHeight(left, picture(areas[0]));
      HalfHeight(right, picture(areas[1]));
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
