#include "display/overlay.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace display {

namespace {

constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
constexpr double kFontScale = 0.5;
constexpr int kThickness = 1;
constexpr int kPadding = 6;      // inside the box, around the text
constexpr int kLineSpacing = 6;  // between lines
constexpr int kMargin = 16;      // from the view's top-left corner to the box
constexpr int kBleed = 2;        // anti-aliased strokes reach this far beyond a character's advance
constexpr int kBackground = 32;  // grey of the box; the text is white
constexpr int kBarHeight = 12;   // the depth bar, below the text

// Each character drawn once by the library (anti-aliased coverage, 0 to 255) and kept: drawing the
// same lines again costs copies only. The font has no kerning, so characters side by side at their
// advances are the line the library would draw.
class Glyphs {
 public:
  Glyphs() {
    int baseline = 0;
    const cv::Size tallest = cv::getTextSize("Mgy|", kFont, kFontScale, kThickness, &baseline);
    ascent_ = tallest.height;
    lineHeight_ = tallest.height + baseline;
  }

  int lineHeight() const { return lineHeight_; }

  int Width(const std::string& line) {
    int width = 0;
    for (char c : line) width += Of(c).advance;
    return width;
  }

  // Adds the line's coverage to `canvas` with its first character's advance box at `at`.
  void Draw(const std::string& line, cv::Mat& canvas, cv::Point at) {
    for (char c : line) {
      const Glyph& glyph = Of(c);
      const cv::Rect box = cv::Rect(at.x - kBleed, at.y - kBleed, glyph.coverage.cols, glyph.coverage.rows) &
                           cv::Rect(0, 0, canvas.cols, canvas.rows);
      if (!box.empty()) {
        cv::Mat target = canvas(box);
        cv::max(target, glyph.coverage(cv::Rect(box.tl() - at + cv::Point(kBleed, kBleed), box.size())), target);
      }
      at.x += glyph.advance;
    }
  }

 private:
  struct Glyph {
    cv::Mat coverage;
    int advance = 0;
  };

  const Glyph& Of(char c) {
    Glyph& glyph = glyphs_[static_cast<unsigned char>(c)];
    if (glyph.coverage.empty()) {
      const std::string text(1, c);
      int baseline = 0;
      glyph.advance = cv::getTextSize(text, kFont, kFontScale, kThickness, &baseline).width;
      glyph.coverage = cv::Mat::zeros(lineHeight_ + 2 * kBleed, glyph.advance + 2 * kBleed, CV_8UC1);
      cv::putText(glyph.coverage, text, cv::Point(kBleed, kBleed + ascent_), kFont, kFontScale, cv::Scalar(255),
                  kThickness, cv::LINE_AA);
    }
    return glyph;
  }

  int ascent_ = 0, lineHeight_ = 0;
  std::array<Glyph, 256> glyphs_;
};

// The bar spans twice the larger limit on each side of the screen plane, so the budget sits in its
// middle half and a range beyond it still shows (cut at the bar's ends).
void DrawDepthBar(const DepthBar& bar, cv::Mat& patch, cv::Rect area) {
  const double span = 2.0 * std::max({bar.inFrontPct, bar.behindPct, 0.5});
  const auto x = [&](double pct) {
    const double clamped = std::clamp(pct, -span, span);
    return area.x + static_cast<int>(std::lround((clamped + span) / (2.0 * span) * (area.width - 1)));
  };
  const int top = area.y, bottom = area.y + area.height - 1, middle = area.y + area.height / 2;
  cv::rectangle(patch, cv::Point(x(-bar.inFrontPct), top), cv::Point(x(bar.behindPct), bottom),
                cv::Scalar(96, 96, 96, 255), cv::FILLED);
  const bool kept =
      bar.nearPct >= -bar.inFrontPct && bar.farPct <= bar.behindPct && bar.farPct - bar.nearPct <= bar.totalPct;
  const cv::Scalar colour = kept ? cv::Scalar(64, 200, 64, 255) : cv::Scalar(48, 48, 224, 255);
  cv::rectangle(patch, cv::Point(x(bar.nearPct), middle - 2),
                cv::Point(std::max(x(bar.farPct), x(bar.nearPct)), middle + 2), colour, cv::FILLED);
  cv::line(patch, cv::Point(x(0), top), cv::Point(x(0), bottom), cv::Scalar(255, 255, 255, 255));
}

}  // namespace

cv::Mat RenderOverlay(const std::vector<std::string>& lines, const std::optional<DepthBar>& bar) {
  // One cache per thread: the viewer renders on its main thread only.
  thread_local Glyphs glyphs;
  int width = 0;
  for (const std::string& line : lines) width = std::max(width, glyphs.Width(line));
  if (bar) width = std::max(width, 120);
  const int rows = static_cast<int>(lines.size());
  const int lineStep = glyphs.lineHeight() + kLineSpacing;
  cv::Mat coverage =
      cv::Mat::zeros(2 * kPadding + rows * lineStep - (rows > 0 ? kLineSpacing : 0), 2 * kPadding + width, CV_8UC1);
  for (int i = 0; i < rows; ++i) glyphs.Draw(lines[i], coverage, cv::Point(kPadding, kPadding + i * lineStep));
  if (bar) cv::copyMakeBorder(coverage, coverage, 0, kBarHeight + kPadding, 0, 0, cv::BORDER_CONSTANT, 0);
  cv::Mat grey, patch;
  coverage.convertTo(grey, CV_8U, (255.0 - kBackground) / 255.0, kBackground);
  cv::cvtColor(grey, patch, cv::COLOR_GRAY2BGRA);
  if (bar) DrawDepthBar(*bar, patch, cv::Rect(kPadding, patch.rows - kPadding - kBarHeight, width, kBarHeight));
  return patch;
}

void DrawOverlay(const cv::Mat& patch, cv::Mat& picture, const std::vector<cv::Rect>& areas, cv::Size view) {
  if (patch.empty() || view.width <= 0 || view.height <= 0) return;
  cv::Mat scaled;
  for (const cv::Rect& area : areas) {
    const double sx = static_cast<double>(area.width) / view.width, sy = static_cast<double>(area.height) / view.height;
    const cv::Mat* source = &patch;
    if (sx != 1.0 || sy != 1.0) {
      if (scaled.empty()) cv::resize(patch, scaled, cv::Size(), sx, sy, cv::INTER_AREA);
      source = &scaled;
    }
    const cv::Point at(area.x + static_cast<int>(kMargin * sx), area.y + static_cast<int>(kMargin * sy));
    const cv::Rect placed = cv::Rect(at, source->size()) & area & cv::Rect(0, 0, picture.cols, picture.rows);
    if (placed.empty()) continue;
    (*source)(cv::Rect(0, 0, placed.width, placed.height)).copyTo(picture(placed));
  }
}

}  // namespace display
