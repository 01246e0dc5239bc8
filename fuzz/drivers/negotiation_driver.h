// Fuzz driver for opening a device: a scripted camera with random capabilities (subtypes, sizes,
// steps, record sizes and counts that lie), a random rule for which offers it accepts, a random
// current format and a random requested size go through CaptureManager::OpenDevice; then samples of
// the right and of random lengths are pushed and taken. Whatever the camera says, an opened device
// has a usable frame size or none, a waiting frame can be taken into a buffer of exactly that size,
// and closing leaves no source alive.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_manager.h"
#include "capture/fake/scripted_capture.h"
#include "fuzz/drivers/byte_reader.h"

namespace fuzz {

// Samples larger than this are not pushed (they would only cost time).
inline constexpr std::int64_t kMaxPushedBytes = 1 << 20;

// Offered sizes are kept below this many pixels: beyond it a run only spends its time filling
// frame buffers of hundreds of megabytes (which the capture layer allocates for a camera that offers
// nothing smaller). Dimensions keep every other value, negative and zero ones included.
inline constexpr std::int64_t kMaxOfferedPixels = 1 << 20;

// Keeps a range of sizes, whichever way round its bounds are and whatever their signs (a negative
// height is a top-down frame of that many rows), within the area: the largest width and the largest
// height it offers are limited together.
inline void LimitRange(std::int32_t* minWidth, std::int32_t* minHeight, std::int32_t* maxWidth,
                       std::int32_t* maxHeight) {
  const std::int64_t width = std::max(std::llabs(*minWidth), std::llabs(*maxWidth));
  const std::int64_t height = std::max(std::llabs(*minHeight), std::llabs(*maxHeight));
  if (width == 0 || height == 0 || width * height <= kMaxOfferedPixels) return;
  const std::int64_t widthLimit = std::min(width, kMaxOfferedPixels);
  const std::int64_t heightLimit = std::max<std::int64_t>(1, kMaxOfferedPixels / widthLimit);
  auto clamp = [](std::int32_t* value, std::int64_t limit) {
    *value = static_cast<std::int32_t>(std::clamp<std::int64_t>(*value, -limit, limit));
  };
  clamp(minWidth, widthLimit);
  clamp(maxWidth, widthLimit);
  clamp(minHeight, heightLimit);
  clamp(maxHeight, heightLimit);
}

inline void LimitArea(std::int32_t* width, std::int32_t* height) {
  std::int32_t sameWidth = *width, sameHeight = *height;
  LimitRange(width, height, &sameWidth, &sameHeight);
}

inline capture::GUID PickSubtype(ByteReader& in) {
  static const capture::GUID kSubtypes[] = {capture::MEDIASUBTYPE_RGB24,
                                            capture::MEDIASUBTYPE_RGB32,
                                            capture::MEDIASUBTYPE_RGB555,
                                            capture::MEDIASUBTYPE_RGB565,
                                            capture::MEDIASUBTYPE_YUY2,
                                            capture::MEDIASUBTYPE_YVYU,
                                            capture::MEDIASUBTYPE_YUYV,
                                            capture::MEDIASUBTYPE_IYUV,
                                            capture::MEDIASUBTYPE_UYVY,
                                            capture::MEDIASUBTYPE_YV12,
                                            capture::MEDIASUBTYPE_YVU9,
                                            capture::MEDIASUBTYPE_Y411,
                                            capture::MEDIASUBTYPE_Y41P,
                                            capture::MEDIASUBTYPE_Y211,
                                            capture::MEDIASUBTYPE_AYUV,
                                            capture::MEDIASUBTYPE_Y800,
                                            capture::MEDIASUBTYPE_Y8,
                                            capture::MEDIASUBTYPE_GREY,
                                            capture::FourccGuid(capture::MakeFourcc('M', 'J', 'P', 'G')),
                                            capture::GUID_NULL};
  return in.PickFrom(kSubtypes);
}

inline fake::Capability PickCapability(ByteReader& in) {
  const capture::GUID subtype = PickSubtype(in);
  fake::Capability capability;
  switch (in.Pick(3)) {
    case 0: {
      std::int32_t width = in.Dimension();
      std::int32_t height = in.Dimension();
      LimitArea(&width, &height);
      capability = fake::FixedSize(subtype, width, height);
      break;
    }
    default: {
      std::int32_t minWidth = in.Dimension();
      std::int32_t minHeight = in.Dimension();
      std::int32_t maxWidth = in.Dimension();
      std::int32_t maxHeight = in.Dimension();
      LimitRange(&minWidth, &minHeight, &maxWidth, &maxHeight);
      const std::int32_t stepX = in.Dimension(), stepY = in.Dimension();
      capability = fake::SizeRange(subtype, minWidth, minHeight, maxWidth, maxHeight, stepX, stepY);
      break;
    }
  }
  if (in.Pick(10) == 0) capability.result = capture::E_FAIL;
  return capability;
}

inline void ScriptStream(ByteReader& in, fake::StreamScript* stream) {
  {
    const capture::GUID subtype = PickSubtype(in);
    std::int32_t width = in.Dimension();
    std::int32_t height = in.Dimension();
    LimitArea(&width, &height);
    stream->current = capture::MakeVideoType(subtype, width, height);
  }
  switch (in.Pick(8)) {
    case 0: stream->getFormatResult = capture::E_FAIL; break;
    case 1: stream->getFormatResult = capture::S_FALSE; break;
    default: break;
  }
  const std::size_t count = in.Pick(7);
  for (std::size_t i = 0; i < count; ++i) stream->capabilities.push_back(PickCapability(in));
  if (in.Pick(10) == 0) stream->capsRecordSize = in.Dimension();
  if (in.Pick(10) == 0) stream->capsCountOverride = static_cast<int>(in.Pick(12));
  if (in.Pick(12) == 0) stream->capsCountResult = capture::E_FAIL;

  static const capture::HRESULT kRefusals[] = {capture::E_FAIL, capture::S_FALSE, capture::VFW_E_INVALIDMEDIATYPE,
                                               capture::E_INVALIDARG};
  stream->refusal = in.PickFrom(kRefusals);
  const std::size_t rule = in.Pick(4);
  const std::uint32_t subtypeMask = in.U32();
  const std::int32_t modulo = 1 + static_cast<std::int32_t>(in.Pick(16));
  // Devices of their own mind still take only sizes they could deliver (within the offered area).
  auto deliverable = [](const capture::VIDEOINFOHEADER* info) {
    return info && std::llabs(static_cast<std::int64_t>(info->bmiHeader.biWidth) * info->bmiHeader.biHeight) <=
                       kMaxOfferedPixels;
  };
  switch (rule) {
    case 1:
      stream->accepts = [deliverable](const capture::MediaType& type) { return deliverable(type.VideoInfo()); };
      break;
    case 2: stream->accepts = [](const capture::MediaType&) { return false; }; break;
    case 3:
      // Some subtypes, at widths on a grid: a device with a mind of its own.
      stream->accepts = [subtypeMask, modulo, deliverable](const capture::MediaType& type) {
        const capture::VIDEOINFOHEADER* info = type.VideoInfo();
        if (!deliverable(info)) return false;
        const std::uint32_t bit = type.subtype.Data1 & 31u;
        return (subtypeMask >> bit & 1u) != 0 && info->bmiHeader.biWidth % modulo == 0;
      };
      break;
    default: break;  // the capabilities decide
  }
}

// What opening made of an input, for tests that replay inputs.
struct OpenOutcome {
  bool opened = false;
  int width = 0, height = 0;  // the frame size; 0 when the device has none
  int framesTaken = 0;
  std::size_t offers = 0;  // formats offered to the capture stream
};

// Empty when every property held; otherwise what went wrong.
inline std::string CheckOpenDevice(const std::uint8_t* data, std::size_t size, OpenOutcome* outcome = nullptr) {
  ByteReader in(data, size);
  auto system = std::make_shared<fake::FakeCameraSystem>();
  fake::CameraScript& camera = system->AddCamera(u"Fuzzed Camera");
  const bool verbose = in.Bool();
  ScriptStream(in, &camera.capture);
  if (in.Pick(4) == 0) {
    camera.previewPin = true;
    ScriptStream(in, &camera.preview);
  }
  const std::int32_t askedWidth = in.Dimension(), askedHeight = in.Dimension();

  const bool wasVerbose = capture::verbose;
  capture::verbose = verbose;
  std::string failure;
  {
    capture::CaptureManager manager(std::make_unique<fake::ScriptedCaptureBackend>(system));
    const bool opened = manager.OpenDevice(0, askedWidth, askedHeight);
    if (opened != manager.IsDeviceReady(0)) failure = "OpenDevice and IsDeviceReady disagree";
    int width = 0, height = 0;
    const bool sized = manager.GetFrameSize(0, &width, &height);
    if (sized && (width < 1 || height < 1 || static_cast<std::int64_t>(width) * height * 3 > INT_MAX))
      failure = "a frame size without pixels or beyond an int of bytes";

    // Samples as the source would deliver them, then of random lengths.
    const capture::VIDEOINFOHEADER* delivering = camera.DeliveringStream().current.VideoInfo();
    const std::int64_t sourceBytes =
        delivering ? capture::FrameBytesOf(camera.DeliveringStream().current.subtype, delivering->bmiHeader.biWidth,
                                           delivering->bmiHeader.biHeight)
                   : 0;
    const std::size_t pushes = in.Pick(4);
    int taken = 0;
    for (std::size_t i = 0; i < pushes && failure.empty(); ++i) {
      std::int64_t length = sourceBytes;
      if (in.Bool()) length = in.U16() * static_cast<std::int64_t>(1 + in.Pick(64));
      if (length < 0 || length > kMaxPushedBytes) continue;
      system->Push(0, static_cast<long>(length), static_cast<std::uint8_t>(i + 1));
      if (!manager.HasNewFrame(0)) continue;
      if (!sized) {
        failure = "a frame waits on a device without a frame size";
        break;
      }
      // Exactly the frame's size: a byte written beyond is caught.
      std::unique_ptr<unsigned char[]> pixels(new unsigned char[static_cast<std::size_t>(width) * height * 3]);
      const bool swapRedBlue = in.Bool(), flipVertical = in.Bool();
      if (manager.GetPixels(0, pixels.get(), swapRedBlue, flipVertical))
        ++taken;
      else
        failure = "a waiting frame could not be taken";
    }
    if (outcome) {
      outcome->opened = opened;
      outcome->width = sized ? width : 0;
      outcome->height = sized ? height : 0;
      outcome->framesTaken = taken;
      outcome->offers = camera.capture.offers.size();
    }
    manager.CloseDevice(0);
    if (manager.IsDeviceReady(0) || manager.HasNewFrame(0)) failure = "a closed device still looks open";
  }
  capture::verbose = wasVerbose;
  if (failure.empty() && camera.sourcesAlive.load() != 0) failure = "a source outlived its manager";
  if (failure.empty() && camera.streamStarts.load() != camera.streamStops.load())
    failure = "a stream was started and never stopped";
  return failure;
}

}  // namespace fuzz
