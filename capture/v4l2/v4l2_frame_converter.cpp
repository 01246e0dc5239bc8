#include "capture/v4l2/v4l2_frame_converter.h"

#include <linux/videodev2.h>

#include <cstring>

#include <opencv2/imgproc.hpp>

namespace capture {
namespace {

int CvTypeFor(std::uint32_t pixelFormat) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_RGB24: return CV_8UC3;
    case V4L2_PIX_FMT_BGR32:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32: return CV_8UC4;
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_YVYU:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_RGB555:
    case V4L2_PIX_FMT_RGB565: return CV_8UC2;
    default: return CV_8UC1;
  }
}

}  // namespace

bool V4l2FrameConverter::Configure(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t bytesPerLine) {
  outputBytes_ = 0;
  FrameLayout layout;
  conversion_ = BgrConversionOf(pixelFormat);
  if (conversion_ == kNoConversion || !FrameLayoutOf(pixelFormat, width, height, bytesPerLine, &layout)) return false;
  pixelFormat_ = pixelFormat;
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  layout_ = layout;
  if (layout.compressed) {
    if (!jpeg_) jpeg_ = std::make_unique<JpegFrameDecoder>();
  } else {
    topDown_.create(height_, width_, CV_8UC3);
    if (layout.planes.size() > 1) packed_.create(static_cast<int>(layout.packedBytes / width), width_, CV_8UC1);
  }
  outputBytes_ = static_cast<std::size_t>(width) * height * 3;
  return true;
}

bool V4l2FrameConverter::Convert(const std::uint8_t* data, std::size_t bytesUsed, std::uint8_t* destination) {
  if (outputBytes_ == 0 || bytesUsed == 0 || bytesUsed < layout_.minimumBytes) return false;
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
    std::uint8_t* out = packed_.data;
    for (const FramePlane& plane : layout_.planes)
      for (std::size_t row = 0; row < plane.rows; ++row, out += plane.rowBytes)
        std::memcpy(out, data + plane.offset + row * plane.stride, plane.rowBytes);
    source = packed_;
  }
  if (conversion_ == kPlainCopy) {
    cv::flip(source, bottomUp, 0);
  } else {
    cv::cvtColor(source, topDown_, conversion_);
    cv::flip(topDown_, bottomUp, 0);
  }
  return true;
}

}  // namespace capture
