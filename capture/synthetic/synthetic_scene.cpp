#include "capture/synthetic/synthetic_scene.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace capture {

namespace {

// Colour noise at two grains, tinted: enough texture for block matching at full and at a quarter of
// the size, pleasant enough to look at.
cv::Mat Texture(cv::Size size, cv::RNG& rng, const cv::Scalar& tint) {
  cv::Mat fine(size, CV_8UC3), coarse(cv::Size(size.width / 8 + 2, size.height / 8 + 2), CV_8UC3);
  rng.fill(fine, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(fine, fine, cv::Size(5, 5), 0);
  rng.fill(coarse, cv::RNG::UNIFORM, 0, 256);
  cv::resize(coarse, coarse, size, 0, 0, cv::INTER_CUBIC);
  cv::Mat grain, tinted;
  cv::addWeighted(fine, 0.45, coarse, 0.35, 0, grain);
  cv::addWeighted(grain, 1.0, cv::Mat(size, CV_8UC3, tint), 0.3, 0, tinted);
  return tinted;
}

// Light from the top left: bright there, darker towards the opposite corner and the edges, so that
// objects read as solid.
void Shade(cv::Mat* image) {
  cv::Mat light(image->size(), CV_32FC1);
  for (int r = 0; r < light.rows; ++r) {
    const double v = static_cast<double>(r) / std::max(1, light.rows - 1);
    for (int c = 0; c < light.cols; ++c) {
      const double u = static_cast<double>(c) / std::max(1, light.cols - 1);
      const double edge = std::min({u, 1 - u, v, 1 - v});
      light.at<float>(r, c) = static_cast<float>(1.2 - 0.5 * (u + v) / 2 - 0.4 * std::max(0.0, 0.12 - edge));
    }
  }
  cv::Mat channels[3];
  cv::split(*image, channels);
  for (cv::Mat& channel : channels) cv::multiply(channel, light, channel, 1.0, CV_8U);
  cv::merge(channels, 3, *image);
}

cv::Mat Look(const SceneObject& object, cv::RNG& rng) {
  if (!object.textured) return cv::Mat(object.size, CV_8UC3, object.tint);
  cv::Mat look = Texture(object.size, rng, object.tint);
  Shade(&look);
  if (object.framed) cv::rectangle(look, cv::Rect(cv::Point(), object.size), cv::Scalar::all(255), 6);
  return look;
}

Keyframe At(const SceneObject& object, double seconds) {
  const std::vector<Keyframe>& path = object.path;
  if (object.loopSeconds > 0) seconds = std::fmod(std::max(seconds, 0.0), object.loopSeconds);
  if (seconds <= path.front().seconds) return path.front();
  for (std::size_t i = 1; i < path.size(); ++i) {
    const Keyframe &a = path[i - 1], &b = path[i];
    if (seconds >= b.seconds) continue;
    const double f = (seconds - a.seconds) / (b.seconds - a.seconds);
    const auto mix = [f](int p, int q) { return static_cast<int>(std::lround(p + f * (q - p))); };
    return Keyframe{seconds, mix(a.x, b.x), mix(a.y, b.y), mix(a.disparity, b.disparity)};
  }
  return path.back();
}

// Copies the part of `look` placed at `at` that falls inside `image`.
void Paste(const cv::Mat& look, cv::Point at, cv::Mat* image) {
  const cv::Rect placed(at, look.size());
  const cv::Rect seen = placed & cv::Rect(cv::Point(), image->size());
  if (seen.empty()) return;
  look(seen - at).copyTo((*image)(seen));
}

SceneObject Object(cv::Size size, const cv::Scalar& tint, std::vector<Keyframe> path) {
  SceneObject object;
  object.size = size;
  object.tint = tint;
  object.path = std::move(path);
  return object;
}

Keyframe Still(int x, int y, int disparity) { return {0, x, y, disparity}; }

SceneScript Named(const char* name) {
  SceneScript script;
  script.name = name;
  return script;
}

// Scenes for the convergence report, made for the default parallax budget of an 800-pixel view
// (16 pixels behind the screen, 8 in front, 24 in all): each fits it, and converging on the
// dominant object alone would break it at some point.

SceneScript DepthStep() {
  SceneScript s = Named("depth-step");
  s.backgroundDisparity = 30;
  // A bar along the bottom of the view stays in front; the centre object steps back and forth.
  s.objects.push_back(Object({1000, 120}, {60, 170, 90}, {Still(512, 690, 46)}));
  SceneObject centre =
      Object({360, 360}, {40, 120, 220},
             {{0, 512, 384, 44}, {4, 512, 384, 44}, {4, 512, 384, 32}, {8, 512, 384, 32}, {8, 512, 384, 44}});
  centre.framed = true;
  s.objects.push_back(centre);
  return s;
}

SceneScript Crossing() {
  SceneScript s = Named("crossing");
  s.backgroundDisparity = 30;
  s.seconds = 15;
  // It comes into view at the left and leaves it at the right, slowly enough (a little over 2 pixels a
  // frame) that frames the two cameras took a frame or two apart still give it about its disparity.
  SceneObject crossing = Object({260, 320}, {200, 80, 160}, {{1, 100, 384, 42}, {13, 924, 384, 42}});
  crossing.from = 1;
  crossing.until = 13;
  s.objects.push_back(crossing);
  return s;
}

SceneScript Textureless() {
  SceneScript s = Named("textureless");
  s.backgroundDisparity = 30;
  // The centre object moves while a blank wall hides everything from 4 to 7 seconds.
  SceneObject centre =
      Object({320, 320}, {40, 120, 220}, {{0, 512, 384, 36}, {5.5, 512, 384, 36}, {5.5, 512, 384, 44}});
  centre.framed = true;
  s.objects.push_back(centre);
  SceneObject wall = Object({1400, 1000}, {128, 128, 128}, {Still(512, 384, 50)});
  wall.textured = false;
  wall.from = 4;
  wall.until = 7;
  s.objects.push_back(wall);
  return s;
}

SceneScript TwoDepths() {
  SceneScript s = Named("two-depths");
  s.backgroundDisparity = 30;
  s.seconds = 10;
  // Side by side across the matching square: the farther one covers three fifths of it.
  s.objects.push_back(Object({300, 300}, {60, 170, 90}, {Still(360, 384, 36)}));
  s.objects.push_back(Object({300, 300}, {200, 80, 160}, {Still(655, 384, 46)}));
  return s;
}

SceneScript Approach() {
  SceneScript s = Named("approach");
  s.backgroundDisparity = 30;
  s.seconds = 16;
  // The centre object comes closer by a pixel a second, behind a bar that stays in front.
  s.objects.push_back(Object({1000, 120}, {60, 170, 90}, {Still(512, 690, 44)}));
  SceneObject centre = Object({360, 360}, {40, 120, 220}, {{0, 512, 384, 32}, {14, 512, 384, 46}});
  centre.framed = true;
  s.objects.push_back(centre);
  return s;
}

}  // namespace

SceneScript SyntheticScene::DemoScript() {
  SceneScript s = Named("demo");
  // The framed centre object sweeps between 30 and 150 pixels every 12 seconds; shaded objects at
  // other depths stay around it, clear of the matching window.
  SceneObject centre = Object({360, 360}, {40, 120, 220}, {{0, 512, 384, 30}, {6, 512, 384, 150}, {12, 512, 384, 30}});
  centre.framed = true;
  centre.loopSeconds = 12;
  s.objects.push_back(centre);
  s.objects.push_back(Object({240, 150}, {60, 200, 90}, {Still(240, 170, 70)}));
  SceneObject drifting = Object({200, 180}, {200, 80, 160}, {{0, 760, 190, 45}, {4, 880, 190, 45}, {8, 760, 190, 45}});
  drifting.loopSeconds = 8;
  s.objects.push_back(drifting);
  s.objects.push_back(Object({260, 150}, {30, 180, 230}, {Still(250, 600, 110)}));
  s.objects.push_back(Object({240, 140}, {220, 200, 60}, {Still(800, 610, 24)}));
  return s;
}

const std::vector<std::string>& SceneNames() {
  static const std::vector<std::string> names = {"demo",        "depth-step", "crossing",
                                                 "textureless", "two-depths", "approach"};
  return names;
}

bool NamedScene(const std::string& name, SceneScript* script) {
  const std::string wanted = name.empty() ? "demo" : name;
  for (SceneScript (*make)() :
       {&SyntheticScene::DemoScript, &DepthStep, &Crossing, &Textureless, &TwoDepths, &Approach}) {
    SceneScript s = make();
    if (s.name != wanted) continue;
    *script = std::move(s);
    return true;
  }
  return false;
}

SceneScript FittedTo(SceneScript script, cv::Size frame) {
  const double sx = static_cast<double>(frame.width) / script.width;
  const double sy = static_cast<double>(frame.height) / script.height;
  const auto scaled = [](int value, double by) { return static_cast<int>(std::lround(value * by)); };
  for (SceneObject& object : script.objects) {
    object.size = cv::Size(std::max(1, scaled(object.size.width, sx)), std::max(1, scaled(object.size.height, sy)));
    for (Keyframe& k : object.path) {
      k.x = scaled(k.x, sx);
      k.y = scaled(k.y, sy);
    }
  }
  script.width = frame.width;
  script.height = frame.height;
  return script;
}

SyntheticScene::SyntheticScene(SceneScript script) : script_(std::move(script)) {
  cv::RNG rng(script_.seed);
  background_ =
      Texture(cv::Size(script_.width + script_.backgroundDisparity, script_.height), rng, script_.backgroundTint);
  for (const SceneObject& object : script_.objects) looks_.push_back(Look(object, rng));
}

std::vector<SyntheticScene::Placed> SyntheticScene::Place(double seconds) const {
  std::vector<Placed> placed;
  for (std::size_t i = 0; i < script_.objects.size(); ++i) {
    const SceneObject& object = script_.objects[i];
    if (seconds < object.from || seconds >= object.until) continue;
    const Keyframe k = At(object, seconds);
    // The left camera sees the object half its disparity right of its centre, the right camera the rest left.
    const cv::Point corner(k.x - object.size.width / 2 + k.disparity / 2, k.y - object.size.height / 2);
    placed.push_back(Placed{static_cast<int>(i) + 1, cv::Rect(corner, object.size), k.disparity});
  }
  std::stable_sort(placed.begin(), placed.end(),
                   [](const Placed& a, const Placed& b) { return a.disparity < b.disparity; });
  return placed;
}

int SyntheticScene::CentreDisparity(double seconds) const {
  const cv::Point centre(script_.width / 2, script_.height / 2);
  int disparity = script_.backgroundDisparity;
  for (const Placed& p : Place(seconds))
    if (p.left.contains(centre)) disparity = p.disparity;
  return disparity;
}

cv::Mat SyntheticScene::Layers(double seconds) const {
  cv::Mat layers(script_.height, script_.width, CV_8UC1, cv::Scalar(0));
  for (const Placed& p : Place(seconds)) layers(p.left & cv::Rect(0, 0, script_.width, script_.height)) = p.layer;
  return layers;
}

DisparityRange SyntheticScene::TrueRange(double seconds, const cv::Rect& region, double minShare) const {
  const cv::Mat layers = Layers(seconds)(region);
  std::vector<int> disparityOf(script_.objects.size() + 1, script_.backgroundDisparity);
  for (const Placed& p : Place(seconds)) disparityOf[p.layer] = p.disparity;
  DisparityRange range{-1, -1};
  for (std::size_t layer = 0; layer < disparityOf.size(); ++layer) {
    const double share = cv::countNonZero(layers == static_cast<int>(layer)) / static_cast<double>(region.area());
    if (share < minShare || share == 0) continue;
    const int d = disparityOf[layer];
    range.nearest = range.nearest < 0 ? d : std::max(range.nearest, d);
    range.farthest = range.farthest < 0 ? d : std::min(range.farthest, d);
  }
  return range;
}

void SyntheticScene::Render(int side, double seconds, cv::Mat* image) const {
  image->create(script_.height, script_.width, CV_8UC3);
  // The right camera sees every point `disparity` pixels further left: it looks at the texture
  // `disparity` pixels further right.
  const int bgShift = side == 0 ? 0 : script_.backgroundDisparity;
  background_(cv::Rect(bgShift, 0, script_.width, script_.height)).copyTo(*image);
  for (const Placed& p : Place(seconds)) {
    const cv::Point at = p.left.tl() - cv::Point(side == 0 ? 0 : p.disparity, 0);
    Paste(looks_[p.layer - 1], at, image);
  }
}

}  // namespace capture
