// Identifiers and format records of the capture graph: GUIDs, media types, video headers, stream
// capabilities and connector types, with the values and layouts the capture logic relies on.
#pragma once

#include <cstdint>
#include <optional>

namespace capture {

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  friend bool operator==(const GUID&, const GUID&) = default;
};

inline constexpr GUID GUID_NULL{};

// Subtypes named by a FourCC: {XXXXXXXX-0000-0010-8000-00AA00389B71}.
constexpr GUID FourccGuid(std::uint32_t data1) {
  return GUID{data1, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr std::uint32_t MakeFourcc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

// Major types and the format type.
inline constexpr GUID MEDIATYPE_Video = FourccGuid(0x73646976);        // 'vids'
inline constexpr GUID MEDIATYPE_Interleaved = FourccGuid(0x73766169);  // 'iavs'
inline constexpr GUID FORMAT_VideoInfo{0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

// RGB subtypes (bottom row first when biHeight is positive).
inline constexpr GUID MEDIASUBTYPE_RGB24{0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB32{0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB555{0xE436EB7C, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB565{0xE436EB7B, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

// FourCC subtypes (top row first).
inline constexpr GUID MEDIASUBTYPE_YUY2 = FourccGuid(0x32595559);
inline constexpr GUID MEDIASUBTYPE_YVYU = FourccGuid(0x55595659);
inline constexpr GUID MEDIASUBTYPE_YUYV = FourccGuid(0x56595559);
inline constexpr GUID MEDIASUBTYPE_IYUV = FourccGuid(0x56555949);
inline constexpr GUID MEDIASUBTYPE_UYVY = FourccGuid(0x59565955);
inline constexpr GUID MEDIASUBTYPE_YV12 = FourccGuid(0x32315659);
inline constexpr GUID MEDIASUBTYPE_YVU9 = FourccGuid(0x39555659);
inline constexpr GUID MEDIASUBTYPE_Y411 = FourccGuid(0x31313459);
inline constexpr GUID MEDIASUBTYPE_Y41P = FourccGuid(0x50313459);
inline constexpr GUID MEDIASUBTYPE_Y211 = FourccGuid(0x31313259);
inline constexpr GUID MEDIASUBTYPE_AYUV = FourccGuid(0x56555941);
inline constexpr GUID MEDIASUBTYPE_Y800 = FourccGuid(0x30303859);
inline constexpr GUID MEDIASUBTYPE_Y8 = FourccGuid(0x38590000);  // bytes 00 00 59 38: not a FourCC
inline constexpr GUID MEDIASUBTYPE_GREY = FourccGuid(0x59455247);

// Pin categories, and the search directions of CaptureGraphBuilder::FindCrossbar.
inline constexpr GUID PIN_CATEGORY_CAPTURE{
    0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID PIN_CATEGORY_PREVIEW{
    0xFB6C4282, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID LOOK_UPSTREAM_ONLY{0xAC798BE0, 0x98E3, 0x11D1, {0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
inline constexpr GUID LOOK_DOWNSTREAM_ONLY{
    0xAC798BE1, 0x98E3, 0x11D1, {0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};

struct RECT {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const RECT&, const RECT&) = default;
};

struct SIZE {
  std::int32_t cx = 0, cy = 0;
  friend bool operator==(const SIZE&, const SIZE&) = default;
};

struct BITMAPINFOHEADER {
  std::uint32_t biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;  // positive: bottom row first
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;  // 0 (BI_RGB) for RGB subtypes, the FourCC otherwise
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
  friend bool operator==(const BITMAPINFOHEADER&, const BITMAPINFOHEADER&) = default;
};

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  std::uint32_t dwBitRate = 0;
  std::uint32_t dwBitErrorRate = 0;
  std::int64_t AvgTimePerFrame = 0;  // 100-nanosecond units
  BITMAPINFOHEADER bmiHeader;
  friend bool operator==(const VIDEOINFOHEADER&, const VIDEOINFOHEADER&) = default;
};

// A stream format. The format block is a VIDEOINFOHEADER when formattype is FORMAT_VideoInfo; it is
// owned by value, so a MediaType is freed (and copied) like any other value.
struct MediaType {
  GUID majortype;
  GUID subtype;
  bool bFixedSizeSamples = false;
  bool bTemporalCompression = false;
  std::uint32_t lSampleSize = 0;
  GUID formattype;
  std::optional<VIDEOINFOHEADER> format;

  // The video header, or null when the type carries no FORMAT_VideoInfo block.
  VIDEOINFOHEADER* VideoInfo() { return formattype == FORMAT_VideoInfo && format ? &*format : nullptr; }
  const VIDEOINFOHEADER* VideoInfo() const { return formattype == FORMAT_VideoInfo && format ? &*format : nullptr; }
  friend bool operator==(const MediaType&, const MediaType&) = default;
};

// Bytes of one frame of a subtype at a size (|height| rows). Frames in this graph have packed rows
// with no padding, so RGB24 is exactly width x height x 3. 0 for unknown subtypes, sizes below 1, and
// frames too large to count in 64 bits.
std::int64_t FrameBytesOf(const GUID& subtype, std::int32_t width, std::int32_t height);
// Bits per pixel of a subtype (24 for RGB24, 16 for YUY2, 12 for IYUV, ...); 0 when unknown.
int BitCountOf(const GUID& subtype);
// A complete video type: majortype Video, the subtype, FORMAT_VideoInfo with width, height, bit count,
// compression and image size filled in. frameInterval is in 100-nanosecond units (0: unknown).
MediaType MakeVideoType(const GUID& subtype, std::int32_t width, std::int32_t height, std::int64_t frameInterval = 0);

// The published VIDEO_STREAM_CONFIG_CAPS record (128 bytes). Negotiation uses the output sizes and
// granularities; the rest is carried for completeness.
struct VIDEO_STREAM_CONFIG_CAPS {
  GUID guid;  // FORMAT_VideoInfo
  std::uint32_t VideoStandard = 0;
  SIZE InputSize;
  SIZE MinCroppingSize;
  SIZE MaxCroppingSize;
  std::int32_t CropGranularityX = 0;
  std::int32_t CropGranularityY = 0;
  std::int32_t CropAlignX = 0;
  std::int32_t CropAlignY = 0;
  SIZE MinOutputSize;
  SIZE MaxOutputSize;
  std::int32_t OutputGranularityX = 0;
  std::int32_t OutputGranularityY = 0;
  std::int32_t StretchTapsX = 0;
  std::int32_t StretchTapsY = 0;
  std::int32_t ShrinkTapsX = 0;
  std::int32_t ShrinkTapsY = 0;
  std::int64_t MinFrameInterval = 0;
  std::int64_t MaxFrameInterval = 0;
  std::int32_t MinBitsPerSecond = 0;
  std::int32_t MaxBitsPerSecond = 0;
};
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128, "the capability record has the published size");

// Physical connector types of crossbar inputs.
inline constexpr long PhysConn_Video_Tuner = 1;
inline constexpr long PhysConn_Video_Composite = 2;
inline constexpr long PhysConn_Video_SVideo = 3;
inline constexpr long PhysConn_Video_RGB = 4;
inline constexpr long PhysConn_Video_YRYBY = 5;
inline constexpr long PhysConn_Video_SerialDigital = 6;
inline constexpr long PhysConn_Video_ParallelDigital = 7;
inline constexpr long PhysConn_Video_SCSI = 8;
inline constexpr long PhysConn_Video_AUX = 9;
inline constexpr long PhysConn_Video_1394 = 10;
inline constexpr long PhysConn_Video_USB = 11;
inline constexpr long PhysConn_Video_VideoDecoder = 12;
inline constexpr long PhysConn_Video_VideoEncoder = 13;
inline constexpr long PhysConn_Video_SCART = 14;
inline constexpr long PhysConn_Video_Black = 15;

}  // namespace capture
