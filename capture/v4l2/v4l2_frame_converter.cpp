#include "capture/v4l2/v4l2_frame_converter.h"

#include <linux/videodev2.h>

#include <cstring>

#include <opencv2/imgproc.hpp>

namespace capture {
namespace {

// The cvtColor code that turns the format into BGR24; -1 for a plain copy, -2 when OpenCV has none.
int ColorCodeFor(std::uint32_t pixelFormat) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24: return -1;
    case V4L2_PIX_FMT_RGB24: return cv::COLOR_RGB2BGR;
    case V4L2_PIX_FMT_BGR32:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32: return cv::COLOR_BGRA2BGR;
    case V4L2_PIX_FMT_GREY: return cv::COLOR_GRAY2BGR;
    case V4L2_PIX_FMT_YUYV: return cv::COLOR_YUV2BGR_YUYV;
    case V4L2_PIX_FMT_YVYU: return cv::COLOR_YUV2BGR_YVYU;
    case V4L2_PIX_FMT_UYVY: return cv::COLOR_YUV2BGR_UYVY;
    case V4L2_PIX_FMT_NV12: return cv::COLOR_YUV2BGR_NV12;
    case V4L2_PIX_FMT_NV21: return cv::COLOR_YUV2BGR_NV21;
    case V4L2_PIX_FMT_YUV420: return cv::COLOR_YUV2BGR_I420;
    case V4L2_PIX_FMT_YVU420: return cv::COLOR_YUV2BGR_YV12;
    default: return -2;
  }
}

int CvTypeFor(std::uint32_t pixelFormat) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_RGB24: return CV_8UC3;
    case V4L2_PIX_FMT_BGR32:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32: return CV_8UC4;
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_YVYU:
    case V4L2_PIX_FMT_UYVY: return CV_8UC2;
    default: return CV_8UC1;
  }
}

}  // namespace

bool V4l2FrameConverter::Configure(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t bytesPerLine, Output output) {
  outputBytes_ = 0;
  FrameLayout layout;
  if (!FrameLayoutOf(pixelFormat, width, height, bytesPerLine, &layout)) return false;
  pixelFormat_ = pixelFormat;
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  output_ = output;
  layout_ = layout;
  if (output == Output::kBgrBottomUp) {
    if (!CanConvertToBgr(pixelFormat, width, height)) return false;
    if (layout.compressed) {
      if (!jpeg_) jpeg_ = std::make_unique<JpegFrameDecoder>();
      colorCode_ = -1;
    } else {
      colorCode_ = ColorCodeFor(pixelFormat);
      if (colorCode_ == -2) return false;
      topDown_.create(height_, width_, CV_8UC3);
      if (layout.planes.size() > 1) packed_.create(static_cast<int>(layout.packedBytes / width), width_, CV_8UC1);
    }
    outputBytes_ = static_cast<std::size_t>(width) * height * 3;
    return true;
  }
  if (layout.compressed) return false;
  if (output == Output::kPackedBottomUp && layout.planes.size() != 1) return false;
  outputBytes_ = layout.packedBytes;
  return true;
}

void V4l2FrameConverter::PackPlanes(const std::uint8_t* data, std::uint8_t* destination, bool reverseRows) const {
  std::uint8_t* out = destination;
  for (const FramePlane& plane : layout_.planes) {
    for (std::size_t row = 0; row < plane.rows; ++row) {
      const std::size_t sourceRow = reverseRows ? plane.rows - 1 - row : row;
      std::memcpy(out, data + plane.offset + sourceRow * plane.stride, plane.rowBytes);
      out += plane.rowBytes;
    }
  }
}

bool V4l2FrameConverter::Convert(const std::uint8_t* data, std::size_t bytesUsed, std::uint8_t* destination) {
  if (outputBytes_ == 0 || !data || !destination || bytesUsed == 0) return false;
  if (bytesUsed < layout_.minimumBytes) return false;

  if (output_ != Output::kBgrBottomUp) {
    PackPlanes(data, destination, output_ == Output::kPackedBottomUp);
    return true;
  }
  const std::size_t outStride = static_cast<std::size_t>(width_) * 3;
  if (layout_.compressed) return jpeg_->Decode(data, bytesUsed, width_, height_, destination, outStride, true);

  cv::Mat bottomUp(height_, width_, CV_8UC3, destination, outStride);
  cv::Mat source;
  auto* bytes = const_cast<std::uint8_t*>(data);  // cv::Mat wants a mutable pointer; it is only read
  if (layout_.planes.size() == 1) {
    source = cv::Mat(height_, width_, CvTypeFor(pixelFormat_), bytes, layout_.planes[0].stride);
  } else if (layout_.minimumBytes == layout_.packedBytes) {
    source = cv::Mat(packed_.rows, width_, CV_8UC1, bytes);  // planes already packed
  } else {
    PackPlanes(data, packed_.data, false);
    source = packed_;
  }
  if (colorCode_ == -1) {
    cv::flip(source, bottomUp, 0);
  } else {
    cv::cvtColor(source, topDown_, colorCode_);
    cv::flip(topDown_, bottomUp, 0);
  }
  return true;
}

}  // namespace capture
