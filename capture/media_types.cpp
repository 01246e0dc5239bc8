#include "capture/media_types.h"

#include <cstdint>
#include <cstdlib>

namespace capture {

int BitCountOf(const GUID& subtype) {
  if (subtype == MEDIASUBTYPE_RGB24) return 24;
  if (subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_AYUV) return 32;
  if (subtype == MEDIASUBTYPE_RGB555 || subtype == MEDIASUBTYPE_RGB565 || subtype == MEDIASUBTYPE_YUY2 ||
      subtype == MEDIASUBTYPE_YVYU || subtype == MEDIASUBTYPE_YUYV || subtype == MEDIASUBTYPE_UYVY)
    return 16;
  if (subtype == MEDIASUBTYPE_IYUV || subtype == MEDIASUBTYPE_YV12 || subtype == MEDIASUBTYPE_Y411 ||
      subtype == MEDIASUBTYPE_Y41P)
    return 12;
  if (subtype == MEDIASUBTYPE_YVU9) return 9;
  if (subtype == MEDIASUBTYPE_Y211 || subtype == MEDIASUBTYPE_Y800 || subtype == MEDIASUBTYPE_Y8 ||
      subtype == MEDIASUBTYPE_GREY)
    return 8;
  return 0;
}

std::int64_t FrameBytesOf(const GUID& subtype, std::int32_t width, std::int32_t height) {
  const std::int64_t bits = BitCountOf(subtype);
  const std::int64_t w = width;
  const std::int64_t h = std::llabs(static_cast<std::int64_t>(height));
  if (bits == 0 || w < 1 || h < 1) return 0;
  const std::int64_t pixels = w * h;  // below 2^62
  if (pixels > INT64_MAX / 32) return 0;
  return pixels * bits / 8;
}

MediaType MakeVideoType(const GUID& subtype, std::int32_t width, std::int32_t height, std::int64_t frameInterval) {
  MediaType type;
  type.majortype = MEDIATYPE_Video;
  type.subtype = subtype;
  type.formattype = FORMAT_VideoInfo;
  type.bFixedSizeSamples = true;
  const std::int64_t bytes = FrameBytesOf(subtype, width, height);
  type.lSampleSize = static_cast<std::uint32_t>(bytes);
  VIDEOINFOHEADER info;
  info.AvgTimePerFrame = frameInterval;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biBitCount = static_cast<std::uint16_t>(BitCountOf(subtype));
  const bool rgb = subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_RGB555 ||
                   subtype == MEDIASUBTYPE_RGB565;
  info.bmiHeader.biCompression = rgb ? 0u : subtype.Data1;
  info.bmiHeader.biSizeImage = static_cast<std::uint32_t>(bytes);
  type.format = info;
  return type;
}

}  // namespace capture
