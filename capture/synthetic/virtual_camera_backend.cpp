#include "capture/synthetic/virtual_camera_backend.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <filesystem>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "capture/device_source_filter.h"
#include "capture/synthetic/synthetic_scene.h"

namespace capture {

namespace {

// One format only: RGB24 at the camera's size.
class FixedStream : public StreamConfig {
 public:
  FixedStream(int width, int height, double fps)
      : format_(MakeVideoType(MEDIASUBTYPE_RGB24, width, height, static_cast<std::int64_t>(1e7 / fps))) {}

  HRESULT GetFormat(std::unique_ptr<MediaType>* format) override {
    if (!format) return E_POINTER;
    *format = std::make_unique<MediaType>(format_);
    return S_OK;
  }
  HRESULT SetFormat(const MediaType& format) override {
    const VIDEOINFOHEADER* wanted = format.VideoInfo();
    const VIDEOINFOHEADER* mine = format_.VideoInfo();
    if (!wanted || format.subtype != MEDIASUBTYPE_RGB24 || wanted->bmiHeader.biWidth != mine->bmiHeader.biWidth ||
        wanted->bmiHeader.biHeight != mine->bmiHeader.biHeight)
      return VFW_E_INVALIDMEDIATYPE;
    return S_OK;
  }
  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    if (!count || !size) return E_POINTER;
    *count = 1;
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
  }
  HRESULT GetStreamCaps(int index, std::unique_ptr<MediaType>* format, VIDEO_STREAM_CONFIG_CAPS* caps) override {
    if (index != 0) return E_INVALIDARG;
    if (!format || !caps) return E_POINTER;
    *format = std::make_unique<MediaType>(format_);
    *caps = VIDEO_STREAM_CONFIG_CAPS{};
    caps->guid = FORMAT_VideoInfo;
    const BITMAPINFOHEADER& h = format_.VideoInfo()->bmiHeader;
    caps->MinOutputSize = caps->MaxOutputSize = SIZE{h.biWidth, h.biHeight};
    caps->OutputGranularityX = caps->OutputGranularityY = 1;
    caps->MinFrameInterval = caps->MaxFrameInterval = format_.VideoInfo()->AvgTimePerFrame;
    return S_OK;
  }

 private:
  MediaType format_;
};

class VirtualSource : public SourceDevice {
 public:
  explicit VirtualSource(VirtualCamera camera)
      : camera_(std::move(camera)), stream_(camera_.width, camera_.height, camera_.framesPerSecond) {}
  ~VirtualSource() override { StopStreaming(); }

  StreamConfig& CaptureStream() override { return stream_; }

  HRESULT StartStreaming(FrameSink& sink) override {
    if (thread_.joinable()) return S_OK;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = false;
    }
    thread_ = std::thread([this, &sink] { Stream(sink); });
    return S_OK;
  }

  void StopStreaming() override {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
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
    const auto start = std::chrono::steady_clock::now();
    cv::Mat image, bottomUp(camera_.height, camera_.width, CV_8UC3);
    for (long frame = 0;; ++frame) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_until(lock, start + frame * period, [this] { return stopping_; })) return;
      }
      camera_.render(frame, &image);
      if (image.size() != bottomUp.size() || image.type() != CV_8UC3) continue;
      cv::flip(image, bottomUp, 0);
      BufferSample sample(bottomUp.data, static_cast<long>(bottomUp.total() * bottomUp.elemSize()));
      sink.Deliver(sample);
    }
  }

  VirtualCamera camera_;
  FixedStream stream_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;  // guarded by mutex_
};

class VirtualEntry : public DeviceEntry {
 public:
  explicit VirtualEntry(const VirtualCamera& camera) : camera_(camera) {}
  HRESULT Probe() override { return S_OK; }
  HRESULT ReadFriendlyName(std::u16string* name) override {
    name->assign(camera_.name.begin(), camera_.name.end());
    return S_OK;
  }
  HRESULT BindSourceFilter(std::shared_ptr<BaseFilter>* filter) override {
    *filter = DeviceSourceFilter::Create(std::make_unique<VirtualSource>(camera_));
    return S_OK;
  }

 private:
  VirtualCamera camera_;
};

class VirtualList : public DeviceList {
 public:
  explicit VirtualList(const std::vector<VirtualCamera>& cameras) : cameras_(cameras) {}
  HRESULT Next(std::unique_ptr<DeviceEntry>* device) override {
    if (next_ >= cameras_.size()) return S_FALSE;
    *device = std::make_unique<VirtualEntry>(cameras_[next_++]);
    return S_OK;
  }

 private:
  const std::vector<VirtualCamera>& cameras_;
  std::size_t next_ = 0;
};

class VirtualBackend : public DeviceBackend {
 public:
  explicit VirtualBackend(std::vector<VirtualCamera> cameras) : cameras_(std::move(cameras)) {}
  HRESULT OpenDeviceList(std::unique_ptr<DeviceList>* list) override {
    if (cameras_.empty()) return S_FALSE;
    *list = std::make_unique<VirtualList>(cameras_);
    return S_OK;
  }

 private:
  std::vector<VirtualCamera> cameras_;
};

// A still image or a video played in a loop; frames must be exactly 1024 x 768.
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
    cameras[side].width = scene->settings().width;
    cameras[side].height = scene->settings().height;
    const double fps = cameras[side].framesPerSecond;
    // Both cameras show the scene at the time of their frame number, so frames of one number match.
    cameras[side].render = [scene, side, fps](long frame, cv::Mat* image) {
      scene->Render(side, static_cast<double>(frame) / fps, image);
    };
  }
  return MakeVirtualCameraBackend(std::move(cameras));
}

std::unique_ptr<DeviceBackend> MakeFileBackend(const std::string& left, const std::string& right, std::string* error) {
  std::vector<VirtualCamera> cameras(2);
  if (!MakeFileCamera(left, "File camera (left)", &cameras[0], error) ||
      !MakeFileCamera(right, "File camera (right)", &cameras[1], error))
    return nullptr;
  return MakeVirtualCameraBackend(std::move(cameras));
}

}  // namespace capture
