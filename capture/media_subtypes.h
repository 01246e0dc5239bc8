// Media subtypes: the 18 the capture layer offers a stream in negotiation order, and the FourCC
// subtypes of everything else a device may deliver.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace capture {

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  friend bool operator==(const GUID&, const GUID&) = default;
};

// Subtypes named by a FourCC: {XXXXXXXX-0000-0010-8000-00AA00389B71}.
constexpr GUID FourccGuid(std::uint32_t data1) {
  return GUID{data1, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr GUID RgbGuid(std::uint32_t data1) {
  return GUID{data1, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
}

inline constexpr GUID MEDIASUBTYPE_RGB24 = RgbGuid(0xE436EB7D);  // bottom row first, blue green red
inline constexpr GUID MEDIASUBTYPE_RGB32 = RgbGuid(0xE436EB7E);
inline constexpr GUID MEDIASUBTYPE_RGB555 = RgbGuid(0xE436EB7C);
inline constexpr GUID MEDIASUBTYPE_RGB565 = RgbGuid(0xE436EB7B);
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

struct NamedSubtype {
  GUID subtype;
  const char* name;
};

// The order in which negotiation offers subtypes, with the names the listing gives them.
inline constexpr std::array<NamedSubtype, 18> kCaptureSubtypes = {{
    {MEDIASUBTYPE_RGB24, "RGB24"},
    {MEDIASUBTYPE_RGB32, "RGB32"},
    {MEDIASUBTYPE_RGB555, "RGB555"},
    {MEDIASUBTYPE_RGB565, "RGB565"},
    {MEDIASUBTYPE_YUY2, "YUY2"},
    {MEDIASUBTYPE_YVYU, "YVYU"},
    {MEDIASUBTYPE_YUYV, "YUYV"},
    {MEDIASUBTYPE_IYUV, "IYUV"},
    {MEDIASUBTYPE_UYVY, "UYVY"},
    {MEDIASUBTYPE_YV12, "YV12"},
    {MEDIASUBTYPE_YVU9, "YVU9"},
    {MEDIASUBTYPE_Y411, "Y411"},
    {MEDIASUBTYPE_Y41P, "Y41P"},
    {MEDIASUBTYPE_Y211, "Y211"},
    {MEDIASUBTYPE_AYUV, "AYUV"},
    {MEDIASUBTYPE_Y800, "Y800"},
    {MEDIASUBTYPE_Y8, "Y8"},
    {MEDIASUBTYPE_GREY, "GREY"},
}};

// "RGB24", "YUY2", ... for the layer's subtypes, the four letters of other FourCC subtypes ("MJPG"),
// otherwise "OTHER".
std::string SubtypeName(const GUID& subtype);

}  // namespace capture
