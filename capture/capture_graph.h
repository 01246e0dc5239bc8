// One device's capture graph, always of one shape: the device's source, a tee when the device has no
// preview stream, a colour converter when the stream is not RGB24, the sample grabber with the
// device's frame mailbox, and the null renderer. Building it opens the device, negotiates the format
// and starts the stream; destroying it is the device's teardown.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/device_backend.h"
#include "capture/frame_mailbox.h"
#include "capture/thread_annotations.h"

namespace capture {

class CaptureGraph {
 public:
  CaptureGraph(int deviceNumber, int requestedWidth, int requestedHeight);
  // Detaches the mailbox, stops the stream and takes the graph apart, printing each step.
  ~CaptureGraph();
  CaptureGraph(const CaptureGraph&) = delete;
  CaptureGraph& operator=(const CaptureGraph&) = delete;

  // Opens the device of that number in `backend`'s list (or the `listed` one, for a device that came
  // back under another number) and runs its graph; false, having said why, when it cannot. A graph
  // that failed is only good for its teardown.
  bool Build(DeviceBackend& backend, int listed = -1);
  bool Running() const { return stage_ == Stage::kRunning; }
  // The device went away while running.
  bool DeviceLost() const { return source_ && source_->Lost(); }
  // The device's controls, and setting one by hand (the device is running).
  std::vector<Control> Controls() const { return source_ ? source_->Controls() : std::vector<Control>{}; }
  bool SetManual(ControlKind kind, int value) { return source_ && source_->SetManual(kind, value); }
  // The entry it was opened from: its node and stable paths.
  const DeviceEntry& entry() const { return entry_; }

  // The frame size negotiated; 0 when the device has none (every frame is then refused).
  int frameWidth() const { return frameWidth_; }
  int frameHeight() const { return frameHeight_; }
  int frameBytes() const { return frameBytes_; }
  FrameMailbox& mailbox() { return mailbox_; }
  const FrameMailbox& mailbox() const { return mailbox_; }

 private:
  // How far construction came; the teardown releases what each step made.
  enum class Stage { kGraph, kSource, kFormat, kGrabber, kRenderer, kConnected, kRunning };

  // Hands frames to the mailbox while one is attached.
  class Grabber final : public FrameSink {
   public:
    void Deliver(const std::uint8_t* data, std::size_t length, std::chrono::steady_clock::time_point captured) override;
    // Returns only after a call into the old mailbox has returned, and none follows.
    void SetCallback(FrameMailbox* mailbox);

   private:
    Mutex mutex_;  // held while a frame is handed over
    FrameMailbox* mailbox_ GUARDED_BY(mutex_) = nullptr;
  };

  bool Fail(const char* message);
  // Adds a filter's name as the graph does: cut to 127 units, numbered when the name is taken.
  void AddFilter(const std::u16string& name);
  void SetFrameSize(int width, int height);

  const int deviceNumber_;
  const int requestedWidth_, requestedHeight_;
  Stage stage_ = Stage::kGraph;
  std::vector<std::u16string> filters_;  // in the order they were added
  int frameWidth_ = 0, frameHeight_ = 0, frameBytes_ = 0;
  DeviceEntry entry_;
  FrameMailbox mailbox_;
  Grabber grabber_;
  std::unique_ptr<SourceDevice> source_;  // stopped in the teardown before the grabber goes
};

}  // namespace capture
