// Fake cameras for tests, at the capture layer's device seam: each with a name, capabilities, a
// current format, a rule for the formats it takes, and failures to open, to read its format or to
// start; frames are pushed by the test, on whatever thread it likes, as a streaming thread would.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/device_backend.h"
#include "capture/thread_annotations.h"

namespace testkit {

struct FakeCamera {
  std::u16string name = u"Fake Camera";
  std::vector<capture::Capability> capabilities;
  capture::StreamFormat current{capture::MEDIASUBTYPE_RGB24, 640, 480};
  capture::HRESULT getFormatResult = capture::S_OK;  // S_FALSE: incomplete; a failure: unreadable
  // Which offers the stream takes; unset: a subtype and size some capability offers.
  std::function<bool(const capture::StreamFormat&)> accepts;
  bool deliversRgb24 = true;
  bool previewPin = false;
  capture::HRESULT openResult = capture::S_OK;
  capture::HRESULT startResult = capture::S_OK;
  std::vector<capture::StreamFormat> offers;  // every SetFormat, in order
};

// A capability of one size, or of a range in steps.
inline capture::Capability Sizes(const capture::GUID& subtype, int width, int height, int maxWidth = 0,
                                 int maxHeight = 0, int stepX = 1, int stepY = 1) {
  return {subtype, width, height, maxWidth ? maxWidth : width, maxHeight ? maxHeight : height, stepX, stepY};
}

class FakeCameras : public std::enable_shared_from_this<FakeCameras> {
 public:
  // The camera stays where it is while the cameras live; configure it before it is opened.
  FakeCamera& Add(std::u16string name = u"Fake Camera");
  FakeCamera& Camera(int index) { return cameras_[static_cast<std::size_t>(index)]; }
  // The backend over these cameras, which stay shared with the test.
  std::unique_ptr<capture::DeviceBackend> Backend();

  // Camera `index` leaves the device list and its stream ends.
  void Unplug(int index);
  // Delivers a frame from camera `index` on the calling thread; false when it is not streaming.
  bool Push(int index, const std::vector<std::uint8_t>& bytes);
  // Cameras opened and not yet closed.
  int OpenCount() const;

 private:
  class Source;

  std::deque<FakeCamera> cameras_;
  mutable capture::Mutex mutex_;
  std::map<int, capture::FrameSink*> streaming_ GUARDED_BY(mutex_);  // held while a frame is delivered
  std::vector<bool> unplugged_ GUARDED_BY(mutex_);
  int open_ GUARDED_BY(mutex_) = 0;
};

}  // namespace testkit
