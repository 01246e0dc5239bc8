#include "capture/v4l2/v4l2_source_device.h"

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>

namespace capture {
namespace {

// How long the streaming thread waits for a frame before it looks at its stop flag again.
constexpr int kPollTimeoutMs = 100;
// Bounds on what we ask a device to enumerate, so that a device that never says "no more" cannot
// keep us looping.
constexpr std::uint32_t kMaxFormats = 64;
constexpr std::uint32_t kMaxSizes = 256;
constexpr std::uint32_t kMaxIntervals = 64;
constexpr std::uint32_t kMaxInputs = 64;

bool SaneDimension(std::uint32_t value) { return value >= 1 && value <= kMaxFrameDimension; }

// A V4L2 fraction of seconds in 100 ns units; 0 when it is not a usable interval.
std::int64_t IntervalUnits(const v4l2_fract& fraction) {
  if (fraction.numerator == 0 || fraction.denominator == 0) return 0;
  return static_cast<std::int64_t>(fraction.numerator) * 10000000 / fraction.denominator;
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Takes a fixed-size kernel string that may lack its terminator.
std::string BoundedString(const std::uint8_t* text, std::size_t size) {
  const char* chars = reinterpret_cast<const char*>(text);
  return std::string(chars, strnlen(chars, size));
}

}  // namespace

bool V4l2Capability::Offers(std::uint32_t width, std::uint32_t height) const {
  if (width < minWidth || width > maxWidth || height < minHeight || height > maxHeight) return false;
  return (width - minWidth) % stepWidth == 0 && (height - minHeight) % stepHeight == 0;
}

long PhysicalTypeOfInput(std::uint32_t type, const std::string& name) {
  if (type == V4L2_INPUT_TYPE_TUNER) return PhysConn_Video_Tuner;
  const std::string lower = Lowercase(name);
  auto has = [&lower](const char* word) { return lower.find(word) != std::string::npos; };
  if (has("s-video") || has("svideo") || has("s video")) return PhysConn_Video_SVideo;
  if (has("composite") || has("cvbs")) return PhysConn_Video_Composite;
  if (has("component") || has("ypbpr")) return PhysConn_Video_YRYBY;
  if (has("scart")) return PhysConn_Video_SCART;
  if (has("hdmi") || has("dvi") || has("sdi")) return PhysConn_Video_SerialDigital;
  if (has("vga") || has("rgb")) return PhysConn_Video_RGB;
  if (has("tuner") || has("television")) return PhysConn_Video_Tuner;
  if (type == V4L2_INPUT_TYPE_CAMERA) return PhysConn_Video_USB;
  return PhysConn_Video_AUX;
}

// ---- stream configuration ----

HRESULT V4l2StreamConfig::GetFormat(std::unique_ptr<MediaType>* format) {
  if (!format) return E_POINTER;
  if (FAILED(device_.currentResult_)) return device_.currentResult_;
  *format = std::make_unique<MediaType>(device_.current_);
  return device_.currentResult_;
}

HRESULT V4l2StreamConfig::SetFormat(const MediaType& format) {
  if (device_.pump_) return VFW_E_NOT_STOPPED;
  const VIDEOINFOHEADER* info = format.VideoInfo();
  if (format.majortype != MEDIATYPE_Video || !info) return VFW_E_INVALIDMEDIATYPE;
  const std::int32_t width = info->bmiHeader.biWidth;
  const std::int32_t height = info->bmiHeader.biHeight;
  // Frames are delivered bottom row first for RGB subtypes and top row first otherwise; a negative
  // height would ask for the other order, which we do not offer.
  if (width < 1 || height < 1 || !SaneDimension(static_cast<std::uint32_t>(width)) ||
      !SaneDimension(static_cast<std::uint32_t>(height)))
    return VFW_E_INVALIDMEDIATYPE;
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);

  HRESULT refusal = VFW_E_TYPE_NOT_ACCEPTED;
  for (const auto& [pixelFormat, output] : device_.CandidatesFor(format.subtype, w, h)) {
    v4l2_pix_format set{};
    const int error = device_.SetExactFormat(pixelFormat, w, h, &set);
    if (error != 0) {
      if (error != EINVAL) refusal = HresultFromErrno(error);
      continue;
    }
    V4l2FrameConverter probe;
    if (!probe.Configure(set.pixelformat, set.width, set.height, set.bytesperline, output)) continue;
    const std::int64_t interval = device_.FastestInterval(pixelFormat, w, h);
    if (interval > 0) {
      // Cameras may start at a slower rate than they offer; ask for the fastest (best effort).
      v4l2_streamparm parm{};
      parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      parm.parm.capture.timeperframe.numerator = static_cast<std::uint32_t>(interval);
      parm.parm.capture.timeperframe.denominator = 10000000;
      Xioctl(*device_.system_, device_.fd_.get(), VIDIOC_S_PARM, &parm);
    }
    device_.deviceFormat_ = set;
    device_.output_ = output;
    device_.current_ = MakeVideoType(format.subtype, width, height, interval);
    device_.currentResult_ = S_OK;
    return S_OK;
  }
  return refusal;
}

HRESULT V4l2StreamConfig::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  *count = static_cast<int>(device_.capabilities_.size());
  *size = static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS));
  return S_OK;
}

HRESULT V4l2StreamConfig::GetStreamCaps(int index, std::unique_ptr<MediaType>* format, VIDEO_STREAM_CONFIG_CAPS* caps) {
  if (!format || !caps) return E_POINTER;
  if (index < 0 || static_cast<std::size_t>(index) >= device_.capabilities_.size()) return E_INVALIDARG;
  const V4l2Capability& capability = device_.capabilities_[static_cast<std::size_t>(index)];
  *format = std::make_unique<MediaType>(
      MakeVideoType(capability.subtype, static_cast<std::int32_t>(capability.maxWidth),
                    static_cast<std::int32_t>(capability.maxHeight), capability.minInterval));
  VIDEO_STREAM_CONFIG_CAPS record;
  record.guid = FORMAT_VideoInfo;
  record.InputSize =
      SIZE{static_cast<std::int32_t>(capability.maxWidth), static_cast<std::int32_t>(capability.maxHeight)};
  record.MinCroppingSize = record.MaxCroppingSize = record.InputSize;
  record.CropGranularityX = record.CropGranularityY = 1;
  record.CropAlignX = record.CropAlignY = 1;
  record.MinOutputSize =
      SIZE{static_cast<std::int32_t>(capability.minWidth), static_cast<std::int32_t>(capability.minHeight)};
  record.MaxOutputSize = record.InputSize;
  record.OutputGranularityX = static_cast<std::int32_t>(capability.stepWidth);
  record.OutputGranularityY = static_cast<std::int32_t>(capability.stepHeight);
  record.MinFrameInterval = capability.minInterval;
  record.MaxFrameInterval = capability.maxInterval;
  *caps = record;
  return S_OK;
}

// ---- input switch ----

HRESULT V4l2InputSwitch::GetPinCounts(long* outputs, long* inputs) {
  if (!outputs || !inputs) return E_POINTER;
  *outputs = 1;
  *inputs = static_cast<long>(device_.inputs_.size());
  return S_OK;
}

HRESULT V4l2InputSwitch::GetCrossbarPinInfo(bool isInput, long index, long* relatedPin, long* physicalType) {
  if (!relatedPin || !physicalType) return E_POINTER;
  if (isInput) {
    if (index < 0 || static_cast<std::size_t>(index) >= device_.inputs_.size()) return E_INVALIDARG;
    *relatedPin = 0;
    *physicalType = device_.inputs_[static_cast<std::size_t>(index)].physicalType;
    return S_OK;
  }
  if (index != 0) return E_INVALIDARG;
  *relatedPin = static_cast<long>(device_.currentInput_);
  *physicalType = PhysConn_Video_VideoDecoder;
  return S_OK;
}

HRESULT V4l2InputSwitch::Route(long output, long input) {
  if (output != 0 || input < 0 || static_cast<std::size_t>(input) >= device_.inputs_.size()) return E_INVALIDARG;
  int index = static_cast<int>(input);
  if (const int error = Xioctl(*device_.system_, device_.fd_.get(), VIDIOC_S_INPUT, &index))
    return HresultFromErrno(error);
  device_.currentInput_ = static_cast<std::uint32_t>(input);
  return S_OK;
}

// ---- device ----

V4l2SourceDevice::V4l2SourceDevice(std::shared_ptr<V4l2System> system, UniqueFd fd)
    : system_(std::move(system)), fd_(std::move(fd)), stream_(*this), inputSwitch_(*this) {}

V4l2SourceDevice::~V4l2SourceDevice() { StopStreaming(); }

HRESULT V4l2SourceDevice::Open(std::shared_ptr<V4l2System> system, const std::string& path,
                               std::unique_ptr<V4l2SourceDevice>* device) {
  if (!system || !device) return E_POINTER;
  const int fd = system->Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return HresultFromErrno(errno);
  UniqueFd owner(system, fd);

  v4l2_capability capability{};
  if (const int error = Xioctl(*system, fd, VIDIOC_QUERYCAP, &capability)) return HresultFromErrno(error);
  const std::uint32_t caps =
      (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) return VFW_E_NOT_FOUND;

  std::unique_ptr<V4l2SourceDevice> result(new V4l2SourceDevice(std::move(system), std::move(owner)));
  result->ReadCapabilities();
  result->ReadCurrentFormat();
  result->ReadInputs();
  *device = std::move(result);
  return S_OK;
}

void V4l2SourceDevice::ReadCapabilities() {
  for (std::uint32_t index = 0; index < kMaxFormats; ++index) {
    v4l2_fmtdesc description{};
    description.index = index;
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(*system_, fd_.get(), VIDIOC_ENUM_FMT, &description) != 0) break;
    if (std::find(pixelFormats_.begin(), pixelFormats_.end(), description.pixelformat) != pixelFormats_.end()) continue;
    pixelFormats_.push_back(description.pixelformat);
    AddFormatSizes(description.pixelformat);
  }
  AddEmulatedCapabilities();
}

void V4l2SourceDevice::AddFormatSizes(std::uint32_t pixelFormat) {
  const GUID subtype = SubtypeForPixelFormat(pixelFormat);
  bool any = false;
  for (std::uint32_t index = 0; index < kMaxSizes; ++index) {
    v4l2_frmsizeenum size{};
    size.index = index;
    size.pixel_format = pixelFormat;
    if (Xioctl(*system_, fd_.get(), VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
    V4l2Capability capability;
    capability.pixelFormat = pixelFormat;
    capability.subtype = subtype;
    if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      if (!SaneDimension(size.discrete.width) || !SaneDimension(size.discrete.height)) continue;
      capability.minWidth = capability.maxWidth = size.discrete.width;
      capability.minHeight = capability.maxHeight = size.discrete.height;
    } else {
      const v4l2_frmsize_stepwise& range = size.stepwise;
      const bool continuous = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS;
      capability.minWidth = range.min_width;
      capability.maxWidth = range.max_width;
      capability.minHeight = range.min_height;
      capability.maxHeight = range.max_height;
      capability.stepWidth = continuous ? 1 : range.step_width;
      capability.stepHeight = continuous ? 1 : range.step_height;
      const bool sane = SaneDimension(capability.minWidth) && SaneDimension(capability.maxWidth) &&
                        SaneDimension(capability.minHeight) && SaneDimension(capability.maxHeight) &&
                        capability.minWidth <= capability.maxWidth && capability.minHeight <= capability.maxHeight &&
                        capability.stepWidth >= 1 && capability.stepHeight >= 1;
      if (!sane) break;
    }
    IntervalsAt(pixelFormat, capability.maxWidth, capability.maxHeight, &capability.minInterval,
                &capability.maxInterval);
    capabilities_.push_back(capability);
    any = true;
    if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;  // a range is the only entry
  }
  if (any) return;
  // Without a size list, take what the device makes of the smallest and the largest request.
  v4l2_format smallest{}, largest{};
  smallest.type = largest.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  smallest.fmt.pix.pixelformat = largest.fmt.pix.pixelformat = pixelFormat;
  smallest.fmt.pix.width = smallest.fmt.pix.height = 1;
  largest.fmt.pix.width = largest.fmt.pix.height = kMaxFrameDimension;
  if (Xioctl(*system_, fd_.get(), VIDIOC_TRY_FMT, &smallest) != 0 ||
      Xioctl(*system_, fd_.get(), VIDIOC_TRY_FMT, &largest) != 0)
    return;
  const v4l2_pix_format& low = smallest.fmt.pix;
  const v4l2_pix_format& high = largest.fmt.pix;
  if (low.pixelformat != pixelFormat || high.pixelformat != pixelFormat || !SaneDimension(low.width) ||
      !SaneDimension(low.height) || !SaneDimension(high.width) || !SaneDimension(high.height) ||
      low.width > high.width || low.height > high.height)
    return;
  V4l2Capability capability;
  capability.pixelFormat = pixelFormat;
  capability.subtype = subtype;
  capability.minWidth = low.width;
  capability.maxWidth = high.width;
  capability.minHeight = low.height;
  capability.maxHeight = high.height;
  capabilities_.push_back(capability);
}

void V4l2SourceDevice::IntervalsAt(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                                   std::int64_t* fastest, std::int64_t* slowest) {
  *fastest = 0;
  *slowest = 0;
  auto note = [&](std::int64_t interval) {
    if (interval <= 0) return;
    if (*fastest == 0 || interval < *fastest) *fastest = interval;
    if (interval > *slowest) *slowest = interval;
  };
  for (std::uint32_t index = 0; index < kMaxIntervals; ++index) {
    v4l2_frmivalenum interval{};
    interval.index = index;
    interval.pixel_format = pixelFormat;
    interval.width = width;
    interval.height = height;
    if (Xioctl(*system_, fd_.get(), VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) break;
    if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      note(IntervalUnits(interval.discrete));
    } else {
      note(IntervalUnits(interval.stepwise.min));
      note(IntervalUnits(interval.stepwise.max));
      break;
    }
  }
}

void V4l2SourceDevice::AddEmulatedCapabilities() {
  std::vector<V4l2Capability> emulated;
  for (const V4l2Capability& native : capabilities_) {
    if (native.pixelFormat == V4L2_PIX_FMT_BGR24) continue;  // already RGB24 without conversion
    if (!CanConvertToBgr(native.pixelFormat, native.minWidth, native.minHeight)) continue;
    auto same = std::find_if(emulated.begin(), emulated.end(), [&](const V4l2Capability& e) {
      return e.minWidth == native.minWidth && e.maxWidth == native.maxWidth && e.stepWidth == native.stepWidth &&
             e.minHeight == native.minHeight && e.maxHeight == native.maxHeight && e.stepHeight == native.stepHeight;
    });
    const bool nativeRgb = std::any_of(capabilities_.begin(), capabilities_.end(), [&](const V4l2Capability& c) {
      return c.pixelFormat == V4L2_PIX_FMT_BGR24 && c.minWidth == native.minWidth && c.maxWidth == native.maxWidth &&
             c.minHeight == native.minHeight && c.maxHeight == native.maxHeight;
    });
    if (nativeRgb) continue;
    if (same != emulated.end()) {
      // The fastest source format names the emulated range's rate.
      if (native.minInterval > 0 && (same->minInterval == 0 || native.minInterval < same->minInterval)) {
        same->minInterval = native.minInterval;
        same->pixelFormat = native.pixelFormat;
      }
      same->maxInterval = std::max(same->maxInterval, native.maxInterval);
      continue;
    }
    V4l2Capability capability = native;
    capability.subtype = MEDIASUBTYPE_RGB24;
    capability.emulated = true;
    emulated.push_back(capability);
  }
  capabilities_.insert(capabilities_.end(), emulated.begin(), emulated.end());
}

void V4l2SourceDevice::ReadCurrentFormat() {
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (const int error = Xioctl(*system_, fd_.get(), VIDIOC_G_FMT, &format)) {
    currentResult_ = HresultFromErrno(error);
    return;
  }
  const v4l2_pix_format& pix = format.fmt.pix;
  deviceFormat_ = pix;
  const auto width = static_cast<std::int32_t>(std::min<std::uint32_t>(pix.width, kMaxFrameDimension));
  const auto height = static_cast<std::int32_t>(std::min<std::uint32_t>(pix.height, kMaxFrameDimension));
  const std::int64_t interval = FastestInterval(pix.pixelformat, pix.width, pix.height);
  V4l2FrameConverter probe;
  if (probe.Configure(pix.pixelformat, pix.width, pix.height, pix.bytesperline,
                      V4l2FrameConverter::Output::kBgrBottomUp)) {
    output_ = V4l2FrameConverter::Output::kBgrBottomUp;
    current_ = MakeVideoType(MEDIASUBTYPE_RGB24, width, height, interval);
    currentResult_ = S_OK;
    return;
  }
  const GUID subtype = SubtypeForPixelFormat(pix.pixelformat);
  output_ = IsRgbSubtype(subtype) ? V4l2FrameConverter::Output::kPackedBottomUp : V4l2FrameConverter::Output::kPacked;
  current_ = MakeVideoType(subtype, width, height, interval);
  // A format we can neither convert nor pass on is reported, but it is incomplete.
  currentResult_ = probe.Configure(pix.pixelformat, pix.width, pix.height, pix.bytesperline, output_) ? S_OK : S_FALSE;
}

void V4l2SourceDevice::ReadInputs() {
  for (std::uint32_t index = 0; index < kMaxInputs; ++index) {
    v4l2_input input{};
    input.index = index;
    if (Xioctl(*system_, fd_.get(), VIDIOC_ENUMINPUT, &input) != 0) break;
    V4l2InputInfo info;
    info.name = BoundedString(input.name, sizeof(input.name));
    info.type = input.type;
    info.physicalType = PhysicalTypeOfInput(input.type, info.name);
    inputs_.push_back(info);
  }
  int current = 0;
  if (Xioctl(*system_, fd_.get(), VIDIOC_G_INPUT, &current) == 0 && current >= 0 &&
      static_cast<std::size_t>(current) < inputs_.size())
    currentInput_ = static_cast<std::uint32_t>(current);
}

std::int64_t V4l2SourceDevice::FastestInterval(std::uint32_t pixelFormat, std::uint32_t width,
                                               std::uint32_t height) const {
  std::int64_t fastest = 0;
  for (const V4l2Capability& capability : capabilities_) {
    if (capability.emulated || capability.pixelFormat != pixelFormat || !capability.Offers(width, height)) continue;
    if (capability.minInterval > 0 && (fastest == 0 || capability.minInterval < fastest))
      fastest = capability.minInterval;
  }
  return fastest;
}

std::vector<std::pair<std::uint32_t, V4l2FrameConverter::Output>> V4l2SourceDevice::CandidatesFor(
    const GUID& subtype, std::uint32_t width, std::uint32_t height) const {
  std::vector<std::pair<std::uint32_t, V4l2FrameConverter::Output>> candidates;
  if (subtype == MEDIASUBTYPE_RGB24) {
    // Every device format we convert and that offers the size, fastest frame rate first, then the
    // cheapest conversion; formats whose sizes we could not list come last, in the device's order.
    std::vector<std::uint32_t> listed, unlisted;
    for (const std::uint32_t format : pixelFormats_) {
      if (!CanConvertToBgr(format, width, height)) continue;
      const bool offered = std::any_of(capabilities_.begin(), capabilities_.end(), [&](const V4l2Capability& c) {
        return !c.emulated && c.pixelFormat == format && c.Offers(width, height);
      });
      (offered ? listed : unlisted).push_back(format);
    }
    auto rate = [&](std::uint32_t format) {
      const std::int64_t interval = FastestInterval(format, width, height);
      return interval > 0 ? interval : std::numeric_limits<std::int64_t>::max();
    };
    std::stable_sort(listed.begin(), listed.end(), [&](std::uint32_t a, std::uint32_t b) {
      const std::int64_t ra = rate(a), rb = rate(b);
      if (ra != rb) return ra < rb;
      return ConversionRank(a) < ConversionRank(b);
    });
    for (const std::uint32_t format : listed) candidates.emplace_back(format, V4l2FrameConverter::Output::kBgrBottomUp);
    for (const std::uint32_t format : unlisted)
      candidates.emplace_back(format, V4l2FrameConverter::Output::kBgrBottomUp);
    return candidates;
  }
  const auto output =
      IsRgbSubtype(subtype) ? V4l2FrameConverter::Output::kPackedBottomUp : V4l2FrameConverter::Output::kPacked;
  for (const std::uint32_t format : PixelFormatsForSubtype(subtype))
    if (std::find(pixelFormats_.begin(), pixelFormats_.end(), format) != pixelFormats_.end())
      candidates.emplace_back(format, output);
  return candidates;
}

int V4l2SourceDevice::SetExactFormat(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                                     v4l2_pix_format* set) {
  // S_FMT adjusts instead of refusing, so the device is asked first whether it takes this exactly.
  v4l2_format request{};
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.fmt.pix.pixelformat = pixelFormat;
  request.fmt.pix.width = width;
  request.fmt.pix.height = height;
  request.fmt.pix.field = V4L2_FIELD_NONE;
  auto exact = [&](const v4l2_format& f) {
    return f.fmt.pix.pixelformat == pixelFormat && f.fmt.pix.width == width && f.fmt.pix.height == height;
  };
  v4l2_format trial = request;
  if (const int error = Xioctl(*system_, fd_.get(), VIDIOC_TRY_FMT, &trial)) return error;
  if (!exact(trial)) return EINVAL;
  v4l2_format applied = request;
  if (const int error = Xioctl(*system_, fd_.get(), VIDIOC_S_FMT, &applied)) return error;
  if (!exact(applied)) return EINVAL;
  *set = applied.fmt.pix;
  return 0;
}

HRESULT V4l2SourceDevice::StartStreaming(FrameSink& sink) {
  if (pump_) return S_OK;
  auto pump = std::make_unique<V4l2FramePump>(system_, fd_.get());
  const HRESULT hr = pump->Start(deviceFormat_, output_);
  if (FAILED(hr)) return hr;
  pump_ = std::move(pump);
  stopRequested_ = false;
  lost_ = false;
  thread_ = std::thread(&V4l2SourceDevice::StreamingThread, this, &sink);
  return S_OK;
}

void V4l2SourceDevice::StopStreaming() {
  stopRequested_ = true;
  if (thread_.joinable()) thread_.join();
  if (pump_) {
    pump_->Stop();
    pump_.reset();
  }
}

void V4l2SourceDevice::StreamingThread(FrameSink* sink) {
  while (!stopRequested_) {
    if (pump_->Pump(*sink, kPollTimeoutMs) == V4l2FramePump::Step::kDeviceLost) {
      // The camera was unplugged or failed: end quietly; the last frame stays with the caller.
      lost_ = true;
      return;
    }
  }
}

}  // namespace capture
