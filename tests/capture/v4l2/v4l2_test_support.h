// Frames, devices and a collecting sink for the V4L2 backend's tests.
#pragma once

#include <linux/videodev2.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "capture/device_backend.h"
#include "capture/v4l2/fake/fake_v4l2_system.h"

namespace capture::testing {

// A BGR picture with structure in both directions, so that flips and shifts show.
inline cv::Mat TestPicture(int width, int height, int seed = 0) {
  cv::Mat picture(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<std::uint8_t>((x * 7 + seed) & 0xFF),
                                              static_cast<std::uint8_t>((y * 5 + seed * 3) & 0xFF),
                                              static_cast<std::uint8_t>(((x + y) * 3) & 0xFF));
  return picture;
}

// YUYV bytes, rows `stride` apart (padding filled with 0xEE), with varied luma and chroma.
inline std::vector<std::uint8_t> YuyvFrame(int width, int height, std::size_t stride = 0, int seed = 0) {
  if (stride == 0) stride = static_cast<std::size_t>(width) * 2;
  std::vector<std::uint8_t> bytes(stride * static_cast<std::size_t>(height), 0xEE);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 2; ++x)
      bytes[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)] =
          static_cast<std::uint8_t>((x % 2 == 0) ? (16 + (x / 2 + y * 3 + seed) % 220) : (40 + (x * 13 + y * 7) % 180));
  return bytes;
}

// OpenCV's BGR of YUYV bytes with packed rows, top row first.
inline cv::Mat OpenCvBgrFromYuyv(const std::vector<std::uint8_t>& bytes, int width, int height,
                                 std::size_t stride = 0) {
  if (stride == 0) stride = static_cast<std::size_t>(width) * 2;
  cv::Mat yuyv(height, width, CV_8UC2, const_cast<std::uint8_t*>(bytes.data()), stride);
  cv::Mat bgr;
  cv::cvtColor(yuyv, bgr, cv::COLOR_YUV2BGR_YUYV);
  return bgr;
}

inline std::vector<std::uint8_t> JpegFrame(const cv::Mat& picture, int quality = 90) {
  std::vector<std::uint8_t> bytes;
  cv::imencode(".jpg", picture, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
  return bytes;
}

// A delivered frame (bottom row first) as a top-down BGR picture.
inline cv::Mat TopDown(const std::vector<std::uint8_t>& sample, int width, int height) {
  cv::Mat bottomUp(height, width, CV_8UC3, const_cast<std::uint8_t*>(sample.data()));
  cv::Mat topDown;
  cv::flip(bottomUp, topDown, 0);
  return topDown;
}

// Largest difference of any channel of any pixel.
inline double MaxDifference(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }

// Keeps copies of what a source delivers.
class CollectingSink final : public FrameSink {
 public:
  HRESULT Deliver(MediaSample& sample) override {
    std::uint8_t* data = nullptr;
    if (FAILED(sample.GetPointer(&data))) return E_FAIL;
    std::vector<std::uint8_t> copy(data, data + sample.GetActualDataLength());
    std::lock_guard lock(mutex_);
    samples_.push_back(std::move(copy));
    arrived_.notify_all();
    return S_OK;
  }
  // True once `count` samples have arrived.
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return samples_.size() >= count; });
  }
  std::vector<std::vector<std::uint8_t>> Samples() {
    std::lock_guard lock(mutex_);
    return samples_;
  }
  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return samples_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::vector<std::uint8_t>> samples_;
};

// A camera that offers `formats` under the card name.
inline FakeV4l2DeviceConfig CameraConfig(std::vector<FakeV4l2Format> formats, std::string card = "Fake Camera") {
  FakeV4l2DeviceConfig config;
  config.card = std::move(card);
  config.formats = std::move(formats);
  return config;
}

// Polls `condition` until it holds or the timeout passes.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}

}  // namespace capture::testing
