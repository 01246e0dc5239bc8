#include "capture/v4l2/v4l2_formats.h"

#include <linux/videodev2.h>

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace capture {
namespace {

enum class Kind { kPacked, kPlanarYuv420, kSemiPlanar420, kPlanarYvu410, kCompressed };

struct FormatInfo {
  std::uint32_t fourcc;
  Kind kind;
  int bitsPerPixel;           // packed formats
  std::uint32_t alignWidth;   // width must be a multiple of this
  std::uint32_t alignHeight;  // height likewise
  bool rgb24;                 // offered as RGB24 too
  int toBgr;                  // BgrConversionOf
  int rank;                   // conversion cost order
};

constexpr FormatInfo kFormats[] = {
    {V4L2_PIX_FMT_BGR24, Kind::kPacked, 24, 1, 1, true, kPlainCopy, 0},
    {V4L2_PIX_FMT_RGB24, Kind::kPacked, 24, 1, 1, true, cv::COLOR_RGB2BGR, 1},
    {V4L2_PIX_FMT_BGR32, Kind::kPacked, 32, 1, 1, true, cv::COLOR_BGRA2BGR, 1},
    {V4L2_PIX_FMT_XBGR32, Kind::kPacked, 32, 1, 1, true, cv::COLOR_BGRA2BGR, 1},
    {V4L2_PIX_FMT_ABGR32, Kind::kPacked, 32, 1, 1, true, cv::COLOR_BGRA2BGR, 1},
    {V4L2_PIX_FMT_GREY, Kind::kPacked, 8, 1, 1, true, cv::COLOR_GRAY2BGR, 1},
    {V4L2_PIX_FMT_YUYV, Kind::kPacked, 16, 2, 1, true, cv::COLOR_YUV2BGR_YUYV, 2},
    {V4L2_PIX_FMT_YVYU, Kind::kPacked, 16, 2, 1, true, cv::COLOR_YUV2BGR_YVYU, 2},
    {V4L2_PIX_FMT_UYVY, Kind::kPacked, 16, 2, 1, true, cv::COLOR_YUV2BGR_UYVY, 2},
    {V4L2_PIX_FMT_NV12, Kind::kSemiPlanar420, 12, 2, 2, true, cv::COLOR_YUV2BGR_NV12, 3},
    {V4L2_PIX_FMT_NV21, Kind::kSemiPlanar420, 12, 2, 2, true, cv::COLOR_YUV2BGR_NV21, 3},
    {V4L2_PIX_FMT_YUV420, Kind::kPlanarYuv420, 12, 2, 2, true, cv::COLOR_YUV2BGR_I420, 3},
    {V4L2_PIX_FMT_YVU420, Kind::kPlanarYuv420, 12, 2, 2, true, cv::COLOR_YUV2BGR_YV12, 3},
    {V4L2_PIX_FMT_MJPEG, Kind::kCompressed, 0, 1, 1, true, kPlainCopy, 4},
    {V4L2_PIX_FMT_JPEG, Kind::kCompressed, 0, 1, 1, true, kPlainCopy, 4},
    // Only under the subtypes that name them.
    {V4L2_PIX_FMT_RGB555, Kind::kPacked, 16, 1, 1, false, cv::COLOR_BGR5552BGR, 9},
    {V4L2_PIX_FMT_RGB565, Kind::kPacked, 16, 1, 1, false, cv::COLOR_BGR5652BGR, 9},
    {V4L2_PIX_FMT_Y41P, Kind::kPacked, 12, 8, 1, false, kNoConversion, 9},
    {V4L2_PIX_FMT_YVU410, Kind::kPlanarYvu410, 9, 4, 4, false, kNoConversion, 9},
};

const FormatInfo* Find(std::uint32_t fourcc) {
  for (const FormatInfo& info : kFormats)
    if (info.fourcc == fourcc) return &info;
  return nullptr;
}

struct SubtypeFormats {
  GUID subtype;
  std::vector<std::uint32_t> formats;
};

const std::vector<SubtypeFormats>& SubtypeTable() {
  static const std::vector<SubtypeFormats> table = {
      {MEDIASUBTYPE_RGB24, {V4L2_PIX_FMT_BGR24}},
      {MEDIASUBTYPE_RGB32, {V4L2_PIX_FMT_BGR32, V4L2_PIX_FMT_XBGR32, V4L2_PIX_FMT_ABGR32}},
      {MEDIASUBTYPE_RGB555, {V4L2_PIX_FMT_RGB555}},
      {MEDIASUBTYPE_RGB565, {V4L2_PIX_FMT_RGB565}},
      {MEDIASUBTYPE_YUY2, {V4L2_PIX_FMT_YUYV}},
      {MEDIASUBTYPE_YVYU, {V4L2_PIX_FMT_YVYU}},
      {MEDIASUBTYPE_YUYV, {V4L2_PIX_FMT_YUYV}},
      {MEDIASUBTYPE_IYUV, {V4L2_PIX_FMT_YUV420}},
      {MEDIASUBTYPE_UYVY, {V4L2_PIX_FMT_UYVY}},
      {MEDIASUBTYPE_YV12, {V4L2_PIX_FMT_YVU420}},
      {MEDIASUBTYPE_YVU9, {V4L2_PIX_FMT_YVU410}},
      {MEDIASUBTYPE_Y41P, {V4L2_PIX_FMT_Y41P}},
      {MEDIASUBTYPE_Y800, {V4L2_PIX_FMT_GREY}},
      {MEDIASUBTYPE_Y8, {V4L2_PIX_FMT_GREY}},
      {MEDIASUBTYPE_GREY, {V4L2_PIX_FMT_GREY}},
  };
  return table;
}

bool Fits(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height) {
  FrameLayout layout;
  return FrameLayoutOf(pixelFormat, width, height, 0, &layout);
}

}  // namespace

bool FrameLayoutOf(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerLine,
                   FrameLayout* layout) {
  const FormatInfo* info = Find(pixelFormat);
  if (!info) return false;
  if (width < 1 || height < 1 || width > kMaxFrameDimension || height > kMaxFrameDimension) return false;
  if (width % info->alignWidth != 0 || height % info->alignHeight != 0) return false;

  FrameLayout result;
  const std::size_t w = width, h = height;
  auto add = [&result](std::size_t rowBytes, std::size_t rows, std::size_t stride) {
    const FramePlane* last = result.planes.empty() ? nullptr : &result.planes.back();
    result.planes.push_back(
        FramePlane{last ? last->offset + last->stride * last->rows : 0, rowBytes, rows, std::max(stride, rowBytes)});
  };
  switch (info->kind) {
    case Kind::kCompressed:
      result.compressed = true;
      result.minimumBytes = 1;
      *layout = result;
      return true;
    case Kind::kPacked: add(w * static_cast<std::size_t>(info->bitsPerPixel) / 8, h, bytesPerLine); break;
    case Kind::kPlanarYuv420:
    case Kind::kPlanarYvu410: {
      const std::size_t factor = info->kind == Kind::kPlanarYuv420 ? 2 : 4;
      add(w, h, bytesPerLine);
      const std::size_t chromaStride = result.planes[0].stride / factor;
      add(w / factor, h / factor, chromaStride);
      add(w / factor, h / factor, chromaStride);
      break;
    }
    case Kind::kSemiPlanar420:
      add(w, h, bytesPerLine);
      add(w, h / 2, result.planes[0].stride);
      break;
  }
  const FramePlane& last = result.planes.back();
  result.minimumBytes = last.offset + last.stride * (last.rows - 1) + last.rowBytes;
  for (const FramePlane& plane : result.planes) result.packedBytes += plane.rowBytes * plane.rows;
  *layout = result;
  return true;
}

bool OffersRgb24(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height) {
  const FormatInfo* info = Find(pixelFormat);
  return info && info->rgb24 && Fits(pixelFormat, width, height);
}

bool CanConvertToBgr(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height) {
  return BgrConversionOf(pixelFormat) != kNoConversion && Fits(pixelFormat, width, height);
}

int ConversionRank(std::uint32_t pixelFormat) {
  const FormatInfo* info = Find(pixelFormat);
  return info ? info->rank : 100;
}

int BgrConversionOf(std::uint32_t pixelFormat) {
  const FormatInfo* info = Find(pixelFormat);
  return info ? info->toBgr : kNoConversion;
}

std::vector<std::uint32_t> PixelFormatsForSubtype(const GUID& subtype) {
  for (const SubtypeFormats& entry : SubtypeTable())
    if (entry.subtype == subtype) return entry.formats;
  return {};
}

GUID SubtypeForPixelFormat(std::uint32_t pixelFormat) {
  // YUYV is named by its own subtype rather than the first table entry (YUY2) that carries it.
  if (pixelFormat == V4L2_PIX_FMT_YUYV) return MEDIASUBTYPE_YUYV;
  if (pixelFormat == V4L2_PIX_FMT_GREY) return MEDIASUBTYPE_GREY;
  for (const SubtypeFormats& entry : SubtypeTable())
    if (std::find(entry.formats.begin(), entry.formats.end(), pixelFormat) != entry.formats.end()) return entry.subtype;
  return FourccGuid(pixelFormat);
}

}  // namespace capture
