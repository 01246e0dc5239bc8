// Fuzz driver for opening a device: a fake camera with random capabilities (any sign), current format
// (maybe incomplete or unreadable) and rule for the offers it takes is opened at a random size, then
// fed frames of the right and of random lengths. An opened device has a usable frame size or none, a
// waiting frame fits a buffer of exactly that size, and closing leaves no camera open.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_manager.h"
#include "fuzz/drivers/byte_reader.h"
#include "testing/fake_cameras.h"

namespace fuzz {

// Offered sizes stay below this many pixels (whatever their signs): beyond it a run only spends its
// time filling frame buffers of hundreds of megabytes. Frames pushed stay below a megabyte.
inline constexpr std::int64_t kMaxOfferedPixels = 1 << 20;
inline constexpr std::int64_t kMaxPushedBytes = 1 << 20;

// Limits the largest width and the largest height of a range together.
inline void LimitRange(int* minWidth, int* minHeight, int* maxWidth, int* maxHeight) {
  const std::int64_t width = std::max(std::llabs(*minWidth), std::llabs(*maxWidth));
  const std::int64_t height = std::max(std::llabs(*minHeight), std::llabs(*maxHeight));
  if (width == 0 || height == 0 || width * height <= kMaxOfferedPixels) return;
  const std::int64_t widthLimit = std::min(width, kMaxOfferedPixels);
  const std::int64_t heightLimit = std::max<std::int64_t>(1, kMaxOfferedPixels / widthLimit);
  for (int* value : {minWidth, maxWidth})
    *value = static_cast<int>(std::clamp<std::int64_t>(*value, -widthLimit, widthLimit));
  for (int* value : {minHeight, maxHeight})
    *value = static_cast<int>(std::clamp<std::int64_t>(*value, -heightLimit, heightLimit));
}

inline capture::GUID PickSubtype(ByteReader& in) {
  const std::size_t pick = in.Pick(capture::kCaptureSubtypes.size() + 2);
  if (pick < capture::kCaptureSubtypes.size()) return capture::kCaptureSubtypes[pick].subtype;
  return pick == capture::kCaptureSubtypes.size() ? capture::FourccGuid(0x47504A4D) : capture::GUID{};  // MJPG
}

// Empty when every property held; otherwise what went wrong.
inline std::string CheckOpenDevice(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  auto cameras = std::make_shared<testkit::FakeCameras>();
  testkit::FakeCamera& camera = cameras->Add(u"Fuzzed Camera");
  capture::verbose = in.Bool();
  capture::StreamFormat& current = camera.current = {PickSubtype(in), in.Dimension(), in.Dimension()};
  LimitRange(&current.width, &current.height, &current.width, &current.height);
  static const capture::HRESULT kFormatResults[] = {capture::S_OK, capture::S_OK, capture::S_FALSE, capture::E_FAIL};
  camera.getFormatResult = in.PickFrom(kFormatResults);
  for (std::size_t count = in.Pick(7); count > 0; --count) {
    const capture::GUID subtype = PickSubtype(in);
    int minWidth = in.Dimension(), minHeight = in.Dimension(), maxWidth = minWidth, maxHeight = minHeight;
    if (in.Bool()) maxWidth = in.Dimension(), maxHeight = in.Dimension();
    LimitRange(&minWidth, &minHeight, &maxWidth, &maxHeight);
    camera.capabilities.push_back({subtype, minWidth, minHeight, maxWidth, maxHeight, in.Dimension(), in.Dimension()});
  }
  const std::size_t rule = in.Pick(4);
  const std::uint32_t subtypeMask = in.U32();
  const int modulo = 1 + static_cast<int>(in.Pick(16));
  // Cameras of a mind of their own still take only sizes they could deliver.
  auto deliverable = [](const capture::StreamFormat& f) {
    return std::llabs(static_cast<std::int64_t>(f.width) * f.height) <= kMaxOfferedPixels;
  };
  if (rule == 1) camera.accepts = deliverable;
  if (rule == 2) camera.accepts = [](const capture::StreamFormat&) { return false; };
  if (rule == 3)
    camera.accepts = [=](const capture::StreamFormat& f) {
      return deliverable(f) && (subtypeMask >> (f.subtype.Data1 & 31u) & 1u) != 0 && f.width % modulo == 0;
    };
  camera.deliversRgb24 = in.Pick(8) != 0;
  camera.previewPin = in.Pick(4) == 0;
  const int askedWidth = in.Dimension(), askedHeight = in.Dimension();

  std::string failure;
  {
    capture::CaptureManager manager(cameras->Backend());
    const bool opened = manager.OpenDevice(0, askedWidth, askedHeight);
    if (opened != manager.IsDeviceReady(0)) failure = "OpenDevice and IsDeviceReady disagree";
    int width = 0, height = 0;
    const bool sized = manager.GetFrameSize(0, &width, &height);
    if (sized && (width < 1 || height < 1 || static_cast<std::int64_t>(width) * height * 3 > INT_MAX))
      failure = "a frame size without pixels or beyond an int of bytes";
    for (std::size_t pushes = in.Pick(4), i = 0; i < pushes && failure.empty(); ++i) {
      std::int64_t length = static_cast<std::int64_t>(width) * height * 3;
      if (in.Bool()) length = in.U16() * static_cast<std::int64_t>(1 + in.Pick(64));
      if (length > kMaxPushedBytes) continue;
      cameras->Push(0, std::vector<std::uint8_t>(static_cast<std::size_t>(length), static_cast<std::uint8_t>(i + 1)));
      if (!manager.HasNewFrame(0)) continue;
      if (!sized) {
        failure = "a frame waits on a device without a frame size";
        break;
      }
      // Exactly the frame's size: a byte written beyond is caught.
      std::unique_ptr<unsigned char[]> pixels(new unsigned char[static_cast<std::size_t>(width) * height * 3]);
      if (!manager.GetPixels(0, pixels.get(), in.Bool(), in.Bool())) failure = "a waiting frame could not be taken";
    }
    manager.CloseDevice(0);
    if (manager.IsDeviceReady(0) || manager.HasNewFrame(0)) failure = "a closed device still looks open";
  }
  if (failure.empty() && cameras->OpenCount() != 0) failure = "a camera was left open";
  return failure;
}

}  // namespace fuzz
