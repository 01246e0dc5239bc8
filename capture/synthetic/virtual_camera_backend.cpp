#include "capture/synthetic/virtual_camera_backend.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "capture/synthetic/synthetic_scene.h"
#include "capture/thread_annotations.h"

namespace capture {

namespace {

// Renders frames from its own streaming thread at a fixed rate, in RGB24 at the camera's size only.
class VirtualSource final : public SourceDevice {
 public:
  explicit VirtualSource(VirtualCamera camera) : camera_(std::move(camera)) {}
  ~VirtualSource() override { StopStreaming(); }

  std::vector<Capability> Capabilities() const override {
    return {Capability{MEDIASUBTYPE_RGB24, camera_.width, camera_.height, camera_.width, camera_.height}};
  }
  HRESULT GetFormat(StreamFormat* format) const override {
    *format = StreamFormat{MEDIASUBTYPE_RGB24, camera_.width, camera_.height};
    return S_OK;
  }
  bool SetFormat(const StreamFormat& format) override {
    return format.subtype == MEDIASUBTYPE_RGB24 && format.width == camera_.width && format.height == camera_.height;
  }
  bool DeliversRgb24() const override { return true; }

  HRESULT StartStreaming(FrameSink& sink) override {
    if (thread_.joinable()) return S_OK;
    {
      MutexLock lock(mutex_);
      stopping_ = false;
    }
    thread_ = std::thread([this, &sink] { Stream(sink); });
    return S_OK;
  }
  void StopStreaming() override {
    if (!thread_.joinable()) return;
    {
      MutexLock lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  // Streaming thread: renders, flips to bottom row first, delivers; paced by the steady clock.
  void Stream(FrameSink& sink) {
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / camera_.framesPerSecond));
    const auto seconds = [](double s) {
      return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s));
    };
    const auto now = std::chrono::steady_clock::now();
    const auto start = (camera_.epoch == std::chrono::steady_clock::time_point{} ? now : camera_.epoch) +
                       seconds(camera_.phaseSeconds);
    cv::RNG late(camera_.seed);
    cv::Mat image, bottomUp(camera_.height, camera_.width, CV_8UC3);
    // The frame under way when the stream starts comes at once, as a camera's first frame does.
    const long first = now > start ? (now - start) / period : 0;
    for (long frame = first;; ++frame) {
      const auto onGrid = start + frame * period + seconds(late.uniform(0.0, 1.0) * camera_.jitterSeconds);
      const auto due = frame == first ? std::min(onGrid, std::max(now, start)) : onGrid;
      {
        MutexLock lock(mutex_);
        while (!stopping_ && wake_.wait_until(mutex_, due) != std::cv_status::timeout) {
        }
        if (stopping_) return;
      }
      camera_.render(frame, &image);
      if (image.size() != bottomUp.size() || image.type() != CV_8UC3) continue;
      cv::flip(image, bottomUp, 0);
      sink.Deliver(bottomUp.data, bottomUp.total() * bottomUp.elemSize());
    }
  }

  const VirtualCamera camera_;
  std::thread thread_;
  Mutex mutex_;
  std::condition_variable_any wake_;
  bool stopping_ GUARDED_BY(mutex_) = false;
};

class VirtualBackend final : public DeviceBackend {
 public:
  explicit VirtualBackend(std::vector<VirtualCamera> cameras) : cameras_(std::move(cameras)) {}
  std::vector<DeviceEntry> ListDevices() override {
    std::vector<DeviceEntry> devices;
    for (const VirtualCamera& camera : cameras_)
      // Each byte of the name is one unit, as the device list has always given it.
      devices.push_back(DeviceEntry{std::u16string(camera.name.begin(), camera.name.end()),
                                    [camera](std::unique_ptr<SourceDevice>* device) {
                                      *device = std::make_unique<VirtualSource>(camera);
                                      return S_OK;
                                    },
                                    "",
                                    {}});
    return devices;
  }

 private:
  std::vector<VirtualCamera> cameras_;
};

// A still image or a video played in a loop; frames must be exactly the camera's size.
bool MakeFileCamera(const std::string& path, const std::string& name, VirtualCamera* camera, std::string* error) {
  camera->name = name + ": " + path;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    *error = "cannot read " + path + ": no such file";
    return false;
  }
  cv::Mat still;
  try {
    still = cv::imread(path, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
  }
  auto checkSize = [&](const cv::Mat& frame) {
    if (frame.cols == camera->width && frame.rows == camera->height) return true;
    *error = path + " is " + std::to_string(frame.cols) + " x " + std::to_string(frame.rows) + ", the cameras need " +
             std::to_string(camera->width) + " x " + std::to_string(camera->height);
    return false;
  };
  if (!still.empty()) {
    if (!checkSize(still)) return false;
    camera->render = [still](long, cv::Mat* image) { still.copyTo(*image); };
    return true;
  }
  auto video = std::make_shared<cv::VideoCapture>();
  cv::Mat first;
  // The video backends log every format they fail to recognise; one line of our own says it better.
  const auto logLevel = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  try {
    if (video->open(path)) video->read(first);
  } catch (const cv::Exception&) {
  }
  cv::utils::logging::setLogLevel(logLevel);
  if (first.empty()) {
    *error = "cannot read " + path + " as an image or a video";
    return false;
  }
  if (!checkSize(first)) return false;
  video->set(cv::CAP_PROP_POS_FRAMES, 0);
  const int width = camera->width, height = camera->height;
  camera->render = [video, width, height](long, cv::Mat* image) {
    if (!video->read(*image) || image->empty()) {
      video->set(cv::CAP_PROP_POS_FRAMES, 0);  // loop
      if (!video->read(*image)) image->release();
    }
    if (!image->empty() && (image->cols != width || image->rows != height)) image->release();
  };
  return true;
}

}  // namespace

std::unique_ptr<DeviceBackend> MakeVirtualCameraBackend(std::vector<VirtualCamera> cameras) {
  return std::make_unique<VirtualBackend>(std::move(cameras));
}

std::unique_ptr<DeviceBackend> MakeSyntheticBackend(const std::shared_ptr<const SyntheticScene>& scene) {
  std::vector<VirtualCamera> cameras(2);
  for (int side = 0; side < 2; ++side) {
    cameras[side].name = side == 0 ? "Synthetic camera (left)" : "Synthetic camera (right)";
    cameras[side].width = scene->script().width;
    cameras[side].height = scene->script().height;
    const double fps = cameras[side].framesPerSecond;
    // Both cameras show the scene at the time of their frame number, so frames of one number match.
    cameras[side].render = [scene, side, fps](long frame, cv::Mat* image) {
      scene->Render(side, static_cast<double>(frame) / fps, image);
    };
  }
  return MakeVirtualCameraBackend(std::move(cameras));
}

std::unique_ptr<DeviceBackend> MakeFileBackend(const std::string& left, const std::string& right, cv::Size frame,
                                               std::string* error) {
  std::vector<VirtualCamera> cameras(2);
  for (VirtualCamera& camera : cameras) {
    camera.width = frame.width;
    camera.height = frame.height;
  }
  if (!MakeFileCamera(left, "File camera (left)", &cameras[0], error) ||
      !MakeFileCamera(right, "File camera (right)", &cameras[1], error))
    return nullptr;
  return MakeVirtualCameraBackend(std::move(cameras));
}

}  // namespace capture
