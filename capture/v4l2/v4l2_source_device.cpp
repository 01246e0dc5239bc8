#include "capture/v4l2/v4l2_source_device.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

bool SaneDimension(std::uint32_t value) { return value >= 1 && value <= kMaxFrameDimension; }

// A V4L2 fraction of seconds in 100 ns units; 0 when it is not a usable interval.
std::int64_t IntervalUnits(const v4l2_fract& fraction) {
  if (fraction.numerator == 0 || fraction.denominator == 0) return 0;
  return static_cast<std::int64_t>(fraction.numerator) * 10000000 / fraction.denominator;
}

}  // namespace

bool V4l2SourceDevice::Range::Offers(std::uint32_t width, std::uint32_t height) const {
  if (width < minWidth || width > maxWidth || height < minHeight || height > maxHeight) return false;
  return (width - minWidth) % stepWidth == 0 && (height - minHeight) % stepHeight == 0;
}

V4l2SourceDevice::V4l2SourceDevice(std::shared_ptr<V4l2System> system, UniqueFd fd, std::string path)
    : system_(std::move(system)), fd_(std::move(fd)), path_(std::move(path)) {}

V4l2SourceDevice::~V4l2SourceDevice() { StopStreaming(); }

HRESULT V4l2SourceDevice::Open(std::shared_ptr<V4l2System> system, const std::string& path,
                               std::unique_ptr<V4l2SourceDevice>* device) {
  const int fd = system->Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return HresultFromErrno(errno);
  UniqueFd owner(system, fd);
  v4l2_capability capability{};
  if (const int error = Xioctl(*system, fd, VIDIOC_QUERYCAP, &capability)) return HresultFromErrno(error);
  const std::uint32_t caps =
      (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) return VFW_E_NOT_FOUND;

  std::unique_ptr<V4l2SourceDevice> result(new V4l2SourceDevice(std::move(system), std::move(owner), path));
  for (std::uint32_t index = 0; index < kMaxFormats; ++index) {
    v4l2_fmtdesc description{};
    description.index = index;
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (result->Ioctl(VIDIOC_ENUM_FMT, &description) != 0) break;
    std::vector<std::uint32_t>& formats = result->pixelFormats_;
    if (std::find(formats.begin(), formats.end(), description.pixelformat) != formats.end()) continue;
    formats.push_back(description.pixelformat);
    result->AddFormatSizes(description.pixelformat);
  }
  result->AddRgb24Ranges();
  result->ReadCurrentFormat();
  *device = std::move(result);
  return S_OK;
}

void V4l2SourceDevice::AddFormatSizes(std::uint32_t pixelFormat) {
  Range range;
  range.pixelFormat = pixelFormat;
  range.subtype = SubtypeForPixelFormat(pixelFormat);
  bool any = false;
  for (std::uint32_t index = 0; index < kMaxSizes; ++index) {
    v4l2_frmsizeenum size{};
    size.index = index;
    size.pixel_format = pixelFormat;
    if (Ioctl(VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
    if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      if (!SaneDimension(size.discrete.width) || !SaneDimension(size.discrete.height)) continue;
      range.minWidth = range.maxWidth = size.discrete.width;
      range.minHeight = range.maxHeight = size.discrete.height;
    } else {
      const v4l2_frmsize_stepwise& r = size.stepwise;
      const bool continuous = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS;
      range.minWidth = r.min_width, range.maxWidth = r.max_width;
      range.minHeight = r.min_height, range.maxHeight = r.max_height;
      range.stepWidth = continuous ? 1 : r.step_width;
      range.stepHeight = continuous ? 1 : r.step_height;
      if (!SaneDimension(range.minWidth) || !SaneDimension(range.maxWidth) || !SaneDimension(range.minHeight) ||
          !SaneDimension(range.maxHeight) || range.minWidth > range.maxWidth || range.minHeight > range.maxHeight ||
          range.stepWidth < 1 || range.stepHeight < 1)
        break;
    }
    range.fastest = FastestIntervalAt(pixelFormat, range.maxWidth, range.maxHeight);
    ranges_.push_back(range);
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
  if (Ioctl(VIDIOC_TRY_FMT, &smallest) != 0 || Ioctl(VIDIOC_TRY_FMT, &largest) != 0) return;
  const v4l2_pix_format& low = smallest.fmt.pix;
  const v4l2_pix_format& high = largest.fmt.pix;
  if (low.pixelformat != pixelFormat || high.pixelformat != pixelFormat || !SaneDimension(low.width) ||
      !SaneDimension(low.height) || !SaneDimension(high.width) || !SaneDimension(high.height) ||
      low.width > high.width || low.height > high.height)
    return;
  range.minWidth = low.width, range.maxWidth = high.width;
  range.minHeight = low.height, range.maxHeight = high.height;
  range.stepWidth = range.stepHeight = 1;
  range.fastest = 0;
  ranges_.push_back(range);
}

std::int64_t V4l2SourceDevice::FastestIntervalAt(std::uint32_t pixelFormat, std::uint32_t width,
                                                 std::uint32_t height) const {
  std::int64_t fastest = 0;
  auto note = [&fastest](std::int64_t interval) {
    if (interval > 0 && (fastest == 0 || interval < fastest)) fastest = interval;
  };
  for (std::uint32_t index = 0; index < kMaxIntervals; ++index) {
    v4l2_frmivalenum interval{};
    interval.index = index;
    interval.pixel_format = pixelFormat;
    interval.width = width;
    interval.height = height;
    if (Ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) break;
    if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      note(IntervalUnits(interval.discrete));
    } else {
      note(IntervalUnits(interval.stepwise.min));
      note(IntervalUnits(interval.stepwise.max));
      break;
    }
  }
  return fastest;
}

void V4l2SourceDevice::AddRgb24Ranges() {
  std::vector<Range> added;
  for (const Range& native : ranges_) {
    if (native.pixelFormat == V4L2_PIX_FMT_BGR24) continue;  // already RGB24 without conversion
    if (!OffersRgb24(native.pixelFormat, native.minWidth, native.minHeight)) continue;
    const bool same = std::any_of(added.begin(), added.end(), [&](const Range& e) {
      return e.minWidth == native.minWidth && e.maxWidth == native.maxWidth && e.stepWidth == native.stepWidth &&
             e.minHeight == native.minHeight && e.maxHeight == native.maxHeight && e.stepHeight == native.stepHeight;
    });
    const bool nativeRgb = std::any_of(ranges_.begin(), ranges_.end(), [&](const Range& c) {
      return c.pixelFormat == V4L2_PIX_FMT_BGR24 && c.minWidth == native.minWidth && c.maxWidth == native.maxWidth &&
             c.minHeight == native.minHeight && c.maxHeight == native.maxHeight;
    });
    if (same || nativeRgb) continue;
    Range range = native;
    range.subtype = MEDIASUBTYPE_RGB24;
    range.converted = true;
    added.push_back(range);
  }
  ranges_.insert(ranges_.end(), added.begin(), added.end());
}

void V4l2SourceDevice::ReadCurrentFormat() {
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (const int error = Ioctl(VIDIOC_G_FMT, &format)) {
    currentResult_ = HresultFromErrno(error);
    return;
  }
  const v4l2_pix_format& pix = format.fmt.pix;
  deviceFormat_ = pix;
  current_.width = static_cast<int>(std::min<std::uint32_t>(pix.width, kMaxFrameDimension));
  current_.height = static_cast<int>(std::min<std::uint32_t>(pix.height, kMaxFrameDimension));
  FrameLayout layout;
  const bool fits = FrameLayoutOf(pix.pixelformat, pix.width, pix.height, pix.bytesperline, &layout);
  const bool rgb24 = fits && OffersRgb24(pix.pixelformat, pix.width, pix.height);
  current_.subtype = rgb24 ? MEDIASUBTYPE_RGB24 : SubtypeForPixelFormat(pix.pixelformat);
  // A format we can neither convert nor pass on is reported, but it is incomplete.
  currentResult_ = rgb24 || (fits && !layout.compressed) ? S_OK : S_FALSE;
}

std::vector<Capability> V4l2SourceDevice::Capabilities() const {
  std::vector<Capability> capabilities;
  for (const Range& r : ranges_)
    capabilities.push_back(Capability{r.subtype, static_cast<int>(r.minWidth), static_cast<int>(r.minHeight),
                                      static_cast<int>(r.maxWidth), static_cast<int>(r.maxHeight),
                                      static_cast<int>(r.stepWidth), static_cast<int>(r.stepHeight)});
  return capabilities;
}

HRESULT V4l2SourceDevice::GetFormat(StreamFormat* format) const {
  if (SUCCEEDED(currentResult_)) *format = current_;
  return currentResult_;
}

bool V4l2SourceDevice::SetFormat(const StreamFormat& format) {
  // Frames are delivered bottom row first; a negative height would ask for the other order.
  if (format.width < 1 || format.height < 1) return false;
  const auto width = static_cast<std::uint32_t>(format.width);
  const auto height = static_cast<std::uint32_t>(format.height);
  if (!SaneDimension(width) || !SaneDimension(height)) return false;
  for (const std::uint32_t pixelFormat : CandidatesFor(format.subtype, width, height)) {
    v4l2_pix_format set{};
    FrameLayout layout;
    if (!SetExactFormat(pixelFormat, width, height, &set) ||
        !FrameLayoutOf(set.pixelformat, set.width, set.height, set.bytesperline, &layout))
      continue;
    if (const std::int64_t interval = FastestInterval(pixelFormat, width, height); interval > 0) {
      // Cameras may start at a slower rate than they offer; ask for the fastest (best effort).
      v4l2_streamparm parm{};
      parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      parm.parm.capture.timeperframe.numerator = static_cast<std::uint32_t>(interval);
      parm.parm.capture.timeperframe.denominator = 10000000;
      Ioctl(VIDIOC_S_PARM, &parm);
    }
    deviceFormat_ = set;
    current_ = format;
    currentResult_ = S_OK;
    return true;
  }
  return false;
}

bool V4l2SourceDevice::DeliversRgb24() const {
  return CanConvertToBgr(deviceFormat_.pixelformat, deviceFormat_.width, deviceFormat_.height);
}

std::int64_t V4l2SourceDevice::FastestInterval(std::uint32_t pixelFormat, std::uint32_t width,
                                               std::uint32_t height) const {
  std::int64_t fastest = 0;
  for (const Range& range : ranges_)
    if (!range.converted && range.pixelFormat == pixelFormat && range.Offers(width, height) && range.fastest > 0 &&
        (fastest == 0 || range.fastest < fastest))
      fastest = range.fastest;
  return fastest;
}

std::vector<std::uint32_t> V4l2SourceDevice::CandidatesFor(const GUID& subtype, std::uint32_t width,
                                                           std::uint32_t height) const {
  std::vector<std::uint32_t> candidates;
  if (subtype != MEDIASUBTYPE_RGB24) {
    for (const std::uint32_t format : PixelFormatsForSubtype(subtype))
      if (std::find(pixelFormats_.begin(), pixelFormats_.end(), format) != pixelFormats_.end())
        candidates.push_back(format);
    return candidates;
  }
  // Every device format we convert that offers the size, fastest frame rate first, then the cheapest
  // conversion; formats whose sizes we could not list come last, in the device's order.
  std::vector<std::uint32_t> unlisted;
  for (const std::uint32_t format : pixelFormats_) {
    if (!OffersRgb24(format, width, height)) continue;
    const bool listed = std::any_of(ranges_.begin(), ranges_.end(), [&](const Range& r) {
      return !r.converted && r.pixelFormat == format && r.Offers(width, height);
    });
    (listed ? candidates : unlisted).push_back(format);
  }
  auto rate = [&](std::uint32_t format) {
    const std::int64_t interval = FastestInterval(format, width, height);
    return interval > 0 ? interval : std::numeric_limits<std::int64_t>::max();
  };
  std::stable_sort(candidates.begin(), candidates.end(), [&](std::uint32_t a, std::uint32_t b) {
    const std::int64_t ra = rate(a), rb = rate(b);
    return ra != rb ? ra < rb : ConversionRank(a) < ConversionRank(b);
  });
  candidates.insert(candidates.end(), unlisted.begin(), unlisted.end());
  return candidates;
}

bool V4l2SourceDevice::SetExactFormat(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
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
  if (Ioctl(VIDIOC_TRY_FMT, &trial) != 0 || !exact(trial)) return false;
  v4l2_format applied = request;
  if (Ioctl(VIDIOC_S_FMT, &applied) != 0 || !exact(applied)) return false;
  *set = applied.fmt.pix;
  return true;
}

HRESULT V4l2SourceDevice::StartStreaming(FrameSink& sink) {
  if (pump_) return S_OK;
  auto pump = std::make_unique<V4l2FramePump>(system_, fd_.get());
  HRESULT hr = pump->Start(deviceFormat_);
  if (hr == HresultFromErrno(ENOSPC)) hr = StartCompressed(*pump);
  if (FAILED(hr)) return hr;
  pump_ = std::move(pump);
  stopRequested_ = false;
  lost_ = false;
  // Ends on a stop request, or when the camera is unplugged or fails.
  thread_ = std::thread([this, &sink] {
    while (!stopRequested_)
      if (pump_->Pump(sink, kPollTimeoutMs) == V4l2FramePump::Step::kDeviceLost) {
        lost_ = true;
        return;
      }
  });
  return S_OK;
}

HRESULT V4l2SourceDevice::StartCompressed(V4l2FramePump& pump) {
  const std::uint32_t width = deviceFormat_.width, height = deviceFormat_.height;
  const std::uint32_t f = deviceFormat_.pixelformat;
  char stream[64];
  std::snprintf(stream, sizeof stream, "%c%c%c%c %ux%u", static_cast<char>(f & 0x7F),
                static_cast<char>((f >> 8) & 0x7F), static_cast<char>((f >> 16) & 0x7F),
                static_cast<char>((f >> 24) & 0x7F), width, height);
  const char* outcome = "and it offers no MJPEG at that size";
  HRESULT hr = HresultFromErrno(ENOSPC);
  const bool offered = std::any_of(ranges_.begin(), ranges_.end(), [&](const Range& r) {
    return !r.converted && r.pixelFormat == V4L2_PIX_FMT_MJPEG && r.Offers(width, height);
  });
  v4l2_pix_format set{};
  if (deviceFormat_.pixelformat != V4L2_PIX_FMT_MJPEG && offered &&
      SetExactFormat(V4L2_PIX_FMT_MJPEG, width, height, &set) && CanConvertToBgr(set.pixelformat, width, height)) {
    deviceFormat_ = set;
    hr = pump.Start(set);
    outcome = SUCCEEDED(hr) ? "streaming MJPEG at that size instead" : "nor for MJPEG at that size";
  }
  std::fprintf(stderr, "%s: not enough USB bandwidth for %s, %s\n", path_.c_str(), stream, outcome);
  return hr;
}

namespace {

// The V4L2 controls behind each kind: the value, its automatic switch and the switch's manual setting.
struct ControlIds {
  ControlKind kind;
  std::uint32_t value, automatic;
  std::int32_t manual;
};
constexpr ControlIds kControlIds[] = {
    {ControlKind::kExposure, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
    {ControlKind::kGain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, 0},
    {ControlKind::kWhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, 0},
    {ControlKind::kFocus, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, 0},
};

}  // namespace

std::vector<Control> V4l2SourceDevice::Controls() const {
  std::vector<Control> controls;
  auto read = [this](std::uint32_t id, v4l2_queryctrl* query, std::int32_t* value) {
    *query = v4l2_queryctrl{};
    query->id = id;
    v4l2_control control{};
    control.id = id;
    if (Ioctl(VIDIOC_QUERYCTRL, query) != 0 || (query->flags & V4L2_CTRL_FLAG_DISABLED) ||
        Ioctl(VIDIOC_G_CTRL, &control) != 0)
      return false;
    *value = control.value;
    return true;
  };
  for (const ControlIds& ids : kControlIds) {
    v4l2_queryctrl query{};
    std::int32_t value = 0;
    if (!read(ids.value, &query, &value)) continue;
    Control control{ids.kind, query.minimum, query.maximum, std::max(query.step, 1), value};
    std::int32_t mode = 0;
    control.hasAutomatic = read(ids.automatic, &query, &mode);
    control.automatic = control.hasAutomatic && mode != ids.manual;
    controls.push_back(control);
  }
  return controls;
}

bool V4l2SourceDevice::SetManual(ControlKind kind, int value) {
  for (const ControlIds& ids : kControlIds) {
    if (ids.kind != kind) continue;
    // The value can only be set once the automatic mode is off (where the device has one).
    v4l2_queryctrl query{};
    query.id = ids.automatic;
    if (Ioctl(VIDIOC_QUERYCTRL, &query) == 0 && !(query.flags & V4L2_CTRL_FLAG_DISABLED)) {
      v4l2_control automatic{ids.automatic, ids.manual};
      if (Ioctl(VIDIOC_S_CTRL, &automatic) != 0) return false;
    }
    v4l2_control control{ids.value, value};
    return Ioctl(VIDIOC_S_CTRL, &control) == 0;
  }
  return false;
}

void V4l2SourceDevice::StopStreaming() {
  stopRequested_ = true;
  if (thread_.joinable()) thread_.join();
  if (pump_) pump_->Stop();
  pump_.reset();
}

}  // namespace capture
