#include "capture/color_converter.h"

#include <cstdlib>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace capture {

namespace {

bool IsRgb(const GUID& subtype) {
  return subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_RGB555 ||
         subtype == MEDIASUBTYPE_RGB565;
}
bool IsPacked422(const GUID& subtype) {
  return subtype == MEDIASUBTYPE_YUY2 || subtype == MEDIASUBTYPE_YUYV || subtype == MEDIASUBTYPE_YVYU ||
         subtype == MEDIASUBTYPE_UYVY;
}
bool IsPlanar420(const GUID& subtype) { return subtype == MEDIASUBTYPE_IYUV || subtype == MEDIASUBTYPE_YV12; }
bool IsGrey(const GUID& subtype) {
  return subtype == MEDIASUBTYPE_Y800 || subtype == MEDIASUBTYPE_Y8 || subtype == MEDIASUBTYPE_GREY;
}

// Frames larger than this are refused rather than allocated.
constexpr std::int64_t kMaxPixels = 16384LL * 16384LL;

}  // namespace

class ColorConverterFilter::InputPin final : public InputPinBase {
 public:
  explicit InputPin(ColorConverterFilter& converter) : InputPinBase(converter, u"Input"), converter_(converter) {}
  HRESULT QueryAccept(const MediaType& type) override { return CanConvert(type) ? S_OK : S_FALSE; }
  HRESULT Receive(MediaSample& sample) override { return converter_.Receive(sample); }

 protected:
  HRESULT OnConnected(const MediaType& type) override { return converter_.PrepareFor(type); }

 private:
  ColorConverterFilter& converter_;
};

class ColorConverterFilter::OutputPin final : public OutputPinBase {
 public:
  explicit OutputPin(ColorConverterFilter& converter) : OutputPinBase(converter, u"XForm Out"), converter_(converter) {}
  HRESULT GetMediaType(int index, MediaType* type) override {
    if (!type) return E_POINTER;
    MediaType input;
    if (index != 0 || converter_.input_->ConnectionMediaType(&input) != S_OK) return S_FALSE;
    *type = OutputTypeFor(input);
    return S_OK;
  }

 private:
  ColorConverterFilter& converter_;
};

ColorConverterFilter::ColorConverterFilter()
    : input_(std::make_unique<InputPin>(*this)), output_(std::make_unique<OutputPin>(*this)) {}

ColorConverterFilter::~ColorConverterFilter() = default;

PinBase* ColorConverterFilter::PinAt(int index) {
  if (index == 0) return input_.get();
  if (index == 1) return output_.get();
  return nullptr;
}

bool ColorConverterFilter::CanConvert(const MediaType& type) {
  const VIDEOINFOHEADER* info = type.VideoInfo();
  if (type.majortype != MEDIATYPE_Video || !info) return false;
  const std::int64_t width = info->bmiHeader.biWidth;
  const std::int64_t height = std::llabs(static_cast<std::int64_t>(info->bmiHeader.biHeight));
  if (width < 1 || height < 1 || width * height > kMaxPixels) return false;
  const GUID& subtype = type.subtype;
  if (IsPacked422(subtype)) return width % 2 == 0;
  if (IsPlanar420(subtype)) return width % 2 == 0 && height % 2 == 0;
  return IsGrey(subtype) || IsRgb(subtype);
}

MediaType ColorConverterFilter::OutputTypeFor(const MediaType& input) {
  const VIDEOINFOHEADER* info = input.VideoInfo();
  const std::int32_t width = info ? info->bmiHeader.biWidth : 0;
  const std::int32_t height = info ? std::abs(info->bmiHeader.biHeight) : 0;
  return MakeVideoType(MEDIASUBTYPE_RGB24, width, height, info ? info->AvgTimePerFrame : 0);
}

HRESULT ColorConverterFilter::PrepareFor(const MediaType& input) {
  if (!CanConvert(input)) return VFW_E_TYPE_NOT_ACCEPTED;
  const BITMAPINFOHEADER& header = input.VideoInfo()->bmiHeader;
  std::lock_guard<std::mutex> lock(conversionMutex_);
  subtype_ = input.subtype;
  width_ = header.biWidth;
  height_ = std::abs(header.biHeight);
  // RGB layouts follow the bitmap rule (positive height: bottom row first); YUV and grey are top first.
  bottomUp_ = IsRgb(subtype_) && header.biHeight > 0;
  inputBytes_ = FrameBytesOf(subtype_, width_, height_);
  const std::size_t outputBytes = static_cast<std::size_t>(width_) * height_ * 3;
  converted_.assign(outputBytes, 0);
  output_bytes_.assign(outputBytes, 0);
  return S_OK;
}

HRESULT ColorConverterFilter::Receive(MediaSample& sample) {
  std::uint8_t* data = nullptr;
  if (sample.GetPointer(&data) != S_OK || !data) return S_FALSE;
  std::unique_lock<std::mutex> lock(conversionMutex_);
  if (inputBytes_ <= 0 || sample.GetActualDataLength() < inputBytes_) return S_FALSE;
  cv::Mat out(height_, width_, CV_8UC3, output_bytes_.data());
  cv::Mat converted(height_, width_, CV_8UC3, converted_.data());
  const GUID& s = subtype_;
  if (IsPacked422(s)) {
    const int code = s == MEDIASUBTYPE_UYVY   ? cv::COLOR_YUV2BGR_UYVY
                     : s == MEDIASUBTYPE_YVYU ? cv::COLOR_YUV2BGR_YVYU
                                              : cv::COLOR_YUV2BGR_YUY2;
    cv::cvtColor(cv::Mat(height_, width_, CV_8UC2, data), converted, code);
  } else if (IsPlanar420(s)) {
    cv::cvtColor(cv::Mat(height_ * 3 / 2, width_, CV_8UC1, data), converted,
                 s == MEDIASUBTYPE_YV12 ? cv::COLOR_YUV2BGR_YV12 : cv::COLOR_YUV2BGR_I420);
  } else if (IsGrey(s)) {
    cv::cvtColor(cv::Mat(height_, width_, CV_8UC1, data), converted, cv::COLOR_GRAY2BGR);
  } else if (s == MEDIASUBTYPE_RGB32) {
    cv::cvtColor(cv::Mat(height_, width_, CV_8UC4, data), converted, cv::COLOR_BGRA2BGR);
  } else if (s == MEDIASUBTYPE_RGB565) {
    cv::cvtColor(cv::Mat(height_, width_, CV_8UC2, data), converted, cv::COLOR_BGR5652BGR);
  } else if (s == MEDIASUBTYPE_RGB555) {
    cv::cvtColor(cv::Mat(height_, width_, CV_8UC2, data), converted, cv::COLOR_BGR5552BGR);
  } else {
    cv::Mat(height_, width_, CV_8UC3, data).copyTo(converted);
  }
  if (bottomUp_)
    converted.copyTo(out);
  else
    cv::flip(converted, out, 0);
  BufferSample result(output_bytes_.data(), static_cast<long>(output_bytes_.size()));
  lock.unlock();
  // The output buffer is rewritten only by the next sample, which comes from this same thread.
  return output_->Deliver(result);
}

}  // namespace capture
