// Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ (the committed seeds were
// made with it): inputs in the drivers' layouts that reach the interesting paths from the start.
//   build-fuzz/fuzz/make_seeds fuzz/corpus
#include <linux/videodev2.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "fuzz/drivers/byte_reader.h"

namespace {

namespace fs = std::filesystem;
using fuzz::ByteWriter;

void Save(const fs::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void SaveText(const fs::path& dir, const std::string& name, const std::string& text) {
  Save(dir, name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string Matrix(const std::string& name, const std::string& rows, const std::string& cols, const std::string& dt,
                   int values) {
  std::string text = "<?xml version=\"1.0\"?>\n<opencv_storage>\n<" + name + " type_id=\"opencv-matrix\">\n  <rows>" +
                     rows + "</rows>\n  <cols>" + cols + "</cols>\n  <dt>" + dt + "</dt>\n  <data>\n";
  char number[32];
  for (int i = 0; i < values; ++i) {
    std::snprintf(number, sizeof number, "%.8e ", 0.25 * i - 1.5);
    text += number;
  }
  return text + "</data></" + name + ">\n</opencv_storage>\n";
}

void MapSeeds(const fs::path& dir) {
  SaveText(dir, "old-format", Matrix("mx1", "3", "4", "f", 12));
  SaveText(dir, "wrong-size", Matrix("my1", "4", "3", "f", 12));
  SaveText(dir, "doubles", Matrix("m", "3", "4", "d", 12));
  SaveText(dir, "two-channels", Matrix("m", "3", "2", "\"2f\"", 12));
  SaveText(dir, "too-few", Matrix("m", "3", "4", "f", 11));
  SaveText(dir, "huge-header", Matrix("m", "200000", "200000", "f", 12));
  SaveText(dir, "special-values",
           "<?xml version=\"1.0\"?>\n<opencv_storage>\n<m type_id=\"opencv-matrix\"><rows>3</rows><cols>4</cols>"
           "<dt>f</dt><data>.Nan .Inf -.Inf 1e38 -1e38 0 -0 3.4e39 1e-45 7 8 9</data></m>\n</opencv_storage>\n");
  SaveText(dir, "number", "<?xml version=\"1.0\"?>\n<opencv_storage>\n<m>42</m>\n</opencv_storage>\n");
  SaveText(dir, "nested",
           "<?xml version=\"1.0\"?>\n<opencv_storage>\n<m><rows>3</rows><cols>4</cols><dt>f</dt>"
           "<data><_>1 2</_><_>3</_></data></m>\n</opencv_storage>\n");
  // As the current writer stores it, and in its base64 form.
  cv::Mat map(3, 4, CV_32FC1);
  for (int i = 0; i < 12; ++i) map.at<float>(i / 4, i % 4) = 0.5f * static_cast<float>(i);
  for (const auto& [name, flags] :
       {std::pair<const char*, int>{"written", 0}, {"written-base64", cv::FileStorage::BASE64}}) {
    cv::FileStorage storage(".xml", cv::FileStorage::WRITE | cv::FileStorage::MEMORY | flags);
    storage << "mx2" << map;
    SaveText(dir, name, storage.releaseAndGetString());
  }
}

void ConvertSeeds(const fs::path& dir) {
  auto frame = [](int width, int height, bool swap, bool flip) {
    ByteWriter w;
    w.SmallDimension(width).SmallDimension(height).U8(swap).U8(flip);
    for (int i = 0; i < width * height * 3; ++i) w.U8(static_cast<std::uint8_t>(i * 7 + 1));
    return w.bytes();
  };
  Save(dir, "plain", frame(4, 3, false, false));
  Save(dir, "swap", frame(5, 2, true, false));
  Save(dir, "flip", frame(3, 4, false, true));
  Save(dir, "swap-flip", frame(2, 5, true, true));
  Save(dir, "no-pixels", ByteWriter().U8(0).SmallDimension(5).U8(1).U8(1).bytes());
  Save(dir, "negative", ByteWriter().RawDimension(-4).SmallDimension(5).U8(0).U8(1).bytes());
}

// ---- negotiation: the layout CheckOpenDevice reads ----
constexpr std::uint8_t kRgb24 = 0, kYuy2 = 4, kIyuv = 7, kGrey = 17, kMjpg = 18;

ByteWriter& Dimension(ByteWriter& w, int value) {
  return value >= 1 && value <= 200 ? w.SmallDimension(value) : w.RawDimension(value);
}

struct Cap {
  std::uint8_t subtype = kRgb24;
  int minW = 8, minH = 8, maxW = 1280, maxH = 960, stepX = 8, stepY = 8;  // one size when max is 0
};

struct Camera {
  std::uint8_t subtype = kRgb24;
  int w = 64, h = 48;
  std::uint8_t formatResult = 0;  // 0 readable, 2 incomplete, 3 unreadable
  std::vector<Cap> caps = {Cap{}};
  std::uint8_t rule = 0;  // 0 the capabilities, 1 all, 2 none, 3 mask and modulo
  std::uint32_t mask = 0;
  std::uint8_t modulo = 1;
  bool converts = true, previewPin = false;
};

std::vector<std::uint8_t> Negotiation(const Camera& c, int askW, int askH, int pushes) {
  ByteWriter w;
  w.U8(1).U8(c.subtype);  // verbose: the messages' formatting is code too
  Dimension(Dimension(w, c.w), c.h).U8(c.formatResult).U8(static_cast<std::uint8_t>(c.caps.size()));
  for (const Cap& cap : c.caps) {
    Dimension(Dimension(w.U8(cap.subtype), cap.minW), cap.minH).U8(cap.maxW ? 1 : 0);
    if (cap.maxW) Dimension(Dimension(w, cap.maxW), cap.maxH);
    Dimension(Dimension(w, cap.stepX), cap.stepY);
  }
  w.U8(c.rule).U32(c.mask).U8(static_cast<std::uint8_t>(c.modulo - 1)).U8(c.converts ? 1 : 0).U8(c.previewPin ? 0 : 1);
  Dimension(Dimension(w, askW), askH).U8(static_cast<std::uint8_t>(pushes));
  // A frame of the device's size (one then waits, and the flags for taking it follow), or 101 * 3 bytes.
  for (int i = 0; i < pushes; ++i) {
    if (i % 2 == 0)
      w.U8(0).U8(static_cast<std::uint8_t>(i >> 1 & 1)).U8(static_cast<std::uint8_t>(i >> 2 & 1));
    else
      w.U8(1).U16(101).U8(2);
  }
  return w.bytes();
}

void NegotiationSeeds(const fs::path& dir) {
  const Camera usual;
  Save(dir, "range-exact", Negotiation(usual, 64, 48, 3));
  Save(dir, "range-1024", Negotiation(usual, 1024, 768, 1));
  Camera sizes;
  sizes.caps = {Cap{kRgb24, 64, 48, 0, 0, 1, 1}, Cap{kRgb24, 128, 72, 0, 0, 1, 1}};
  Save(dir, "closest", Negotiation(sizes, 100, 60, 3));
  Camera yuv;
  yuv.subtype = kYuy2, yuv.w = 32, yuv.h = 24;
  yuv.caps = {Cap{kYuy2, 32, 24, 0, 0, 1, 1}, Cap{kIyuv, 32, 24, 0, 0, 1, 1}, Cap{kGrey, 32, 24, 0, 0, 1, 1}};
  Save(dir, "yuy2-converted", Negotiation(yuv, 32, 24, 3));
  Camera refusing = usual;
  refusing.rule = 2;
  Save(dir, "refuses-all", Negotiation(refusing, 64, 48, 2));
  Camera picky = yuv;
  picky.rule = 3, picky.mask = 0xFFFFFFFFu, picky.modulo = 16;
  Save(dir, "picky", Negotiation(picky, 40, 24, 2));
  Camera jpeg = usual;
  jpeg.subtype = jpeg.caps[0].subtype = kMjpg;
  Save(dir, "mjpg-only", Negotiation(jpeg, 64, 48, 2));
  Camera preview = usual;
  preview.previewPin = true;
  Save(dir, "preview-pin", Negotiation(preview, 64, 48, 3));
  Camera odd = usual;
  odd.caps[0].minW = -1024, odd.caps[0].maxW = 2147483647, odd.caps[0].stepX = 715827882;
  Save(dir, "extreme-range", Negotiation(odd, 1024, 768, 1));
  Camera topDown = usual;
  topDown.caps = {Cap{kRgb24, 64, -48, 0, 0, 1, 1}};
  Save(dir, "top-down-size", Negotiation(topDown, 64, -48, 2));
  Camera incomplete = usual;
  incomplete.formatResult = 2;
  Save(dir, "incomplete-format", Negotiation(incomplete, 64, 48, 2));
  Camera unreadable = usual;
  unreadable.formatResult = 3;
  Save(dir, "unreadable-format", Negotiation(unreadable, 64, 48, 1));
  Camera unconnected = usual;
  unconnected.converts = false;
  Save(dir, "cannot-connect", Negotiation(unconnected, 64, 48, 1));
}

// ---- V4L2 frames: the layout CheckV4l2Frames reads ----
struct V4l2Seed {
  std::uint8_t format = 0;  // index into kFuzzPixelFormats
  int w = 16, h = 8;
  int padding = -1;          // -1: none
  std::int64_t stride = -1;  // -1: honest; otherwise the lie's raw value
  std::int64_t sizeImage = -1, bufferBytes = -1, queryLength = -1;
  bool extraWakeups = false;
  bool native = false;
  struct Frame {
    std::vector<std::uint8_t> bytes;
    bool error = false;
    std::int64_t bytesUsed = -1;
  };
  std::vector<Frame> frames;
};

std::vector<std::uint8_t> V4l2Input(const V4l2Seed& s) {
  ByteWriter w;
  w.U8(s.format);
  w.U8(1).U8(static_cast<std::uint8_t>(s.w - 1));
  w.U8(1).U8(static_cast<std::uint8_t>(s.h - 1));
  // An optional field of the fake device: 0 and its value when the seed sets one, else 1.
  auto lie = [&w](auto value, auto write) {
    if (value < 0) {
      w.U8(1);
      return;
    }
    w.U8(0);
    write(value);
  };
  lie(s.padding, [&w](auto v) { w.U8(static_cast<std::uint8_t>(v)); });
  lie(s.stride, [&w](auto v) { w.U8(9).U32(static_cast<std::uint32_t>(v)); });
  lie(s.sizeImage, [&w](auto v) { w.U32(static_cast<std::uint32_t>(v)); });
  lie(s.bufferBytes, [&w](auto v) { w.U32(static_cast<std::uint32_t>(v)); });
  lie(s.queryLength, [&w](auto v) { w.U8(1).U32(static_cast<std::uint32_t>(v)); });
  w.U8(s.extraWakeups);
  w.U8(s.native ? 0 : 1);
  w.U8(static_cast<std::uint8_t>(s.frames.size() - 1));
  for (std::size_t i = 0; i < s.frames.size(); ++i) {
    const V4l2Seed::Frame& f = s.frames[i];
    w.U8(f.error ? 0 : 1);
    if (f.bytesUsed >= 0)
      w.U8(0).U8(1).U16(static_cast<std::uint16_t>(f.bytesUsed));
    else
      w.U8(1);
    w.U16(static_cast<std::uint16_t>(f.bytes.size()));
    w.Bytes(f.bytes);
  }
  return w.bytes();
}

std::vector<std::uint8_t> Pattern(std::size_t n, int seed) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(16 + (i * 37 + seed * 11) % 220);
  return bytes;
}

std::vector<std::uint8_t> Jpeg(int w, int h, int quality) {
  cv::Mat picture(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) picture.at<cv::Vec3b>(y, x) = cv::Vec3b(x * 13 & 255, y * 29 & 255, (x + y) * 7 & 255);
  std::vector<std::uint8_t> bytes;
  cv::imencode(".jpg", picture, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
  return bytes;
}

void V4l2Seeds(const fs::path& dir) {
  V4l2Seed yuyv;
  yuyv.frames = {{Pattern(16 * 8 * 2, 1)}, {Pattern(16 * 8 * 2, 2)}};
  Save(dir, "yuyv", V4l2Input(yuyv));
  V4l2Seed padded = yuyv;
  padded.padding = 12;
  padded.frames = {{Pattern((16 * 2 + 12) * 8, 3)}};
  Save(dir, "yuyv-padded", V4l2Input(padded));
  V4l2Seed lyingStride = yuyv;
  lyingStride.stride = 7;
  Save(dir, "yuyv-stride-lie", V4l2Input(lyingStride));
  V4l2Seed shortFrame = yuyv;
  shortFrame.frames = {{Pattern(100, 4)}, {Pattern(16 * 8 * 2, 5), false, 60000}, {Pattern(16 * 8 * 2, 6), true}};
  Save(dir, "yuyv-short-used-flagged", V4l2Input(shortFrame));
  V4l2Seed smallBuffers = yuyv;
  smallBuffers.bufferBytes = 64;
  smallBuffers.sizeImage = 3;
  Save(dir, "yuyv-small-buffers", V4l2Input(smallBuffers));
  V4l2Seed nativeYuyv = yuyv;
  nativeYuyv.native = true;
  nativeYuyv.padding = 4;
  nativeYuyv.frames = {{Pattern((16 * 2 + 4) * 8, 7)}};
  Save(dir, "yuyv-native", V4l2Input(nativeYuyv));

  V4l2Seed mjpeg;
  mjpeg.format = 1;
  mjpeg.w = 24, mjpeg.h = 16;
  const std::vector<std::uint8_t> jpeg = Jpeg(24, 16, 80);
  mjpeg.frames = {{jpeg}, {std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2))}};
  Save(dir, "mjpeg", V4l2Input(mjpeg));
  V4l2Seed wrongSizeJpeg = mjpeg;
  wrongSizeJpeg.frames = {{Jpeg(16, 16, 50)}};
  Save(dir, "mjpeg-other-size", V4l2Input(wrongSizeJpeg));
  V4l2Seed mjpegQuery = mjpeg;
  mjpegQuery.queryLength = 100;
  mjpegQuery.extraWakeups = true;
  Save(dir, "mjpeg-query-lie", V4l2Input(mjpegQuery));

  V4l2Seed nv12;
  nv12.format = 6;
  nv12.w = 8, nv12.h = 8;
  nv12.padding = 8;
  nv12.frames = {{Pattern(16 * 8 * 3 / 2, 8)}};
  Save(dir, "nv12-padded", V4l2Input(nv12));
  V4l2Seed i420 = nv12;
  i420.format = 8;
  i420.padding = -1;
  i420.frames = {{Pattern(8 * 8 * 3 / 2, 9)}};
  Save(dir, "yuv420", V4l2Input(i420));
  V4l2Seed bgr;
  bgr.format = 10;
  bgr.w = 5, bgr.h = 3;
  bgr.frames = {{Pattern(5 * 3 * 3, 10)}};
  Save(dir, "bgr24", V4l2Input(bgr));
  V4l2Seed rgb565 = bgr;
  rgb565.format = 15;
  rgb565.native = true;
  rgb565.frames = {{Pattern(5 * 3 * 2, 11)}};
  Save(dir, "rgb565-native", V4l2Input(rgb565));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  MapSeeds(root / "map_loader_fuzz");
  ConvertSeeds(root / "convert_pixels_fuzz");
  NegotiationSeeds(root / "negotiation_fuzz");
  V4l2Seeds(root / "v4l2_frames_fuzz");
  return 0;
}
