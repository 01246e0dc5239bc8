#include "capture/camera_watch.h"

#include <algorithm>
#include <cstdio>

namespace capture {

const char* ControlName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kExposure: return "exposure";
    case ControlKind::kGain: return "gain";
    case ControlKind::kWhiteBalance: return "white balance";
    case ControlKind::kFocus: return "focus";
  }
  return "control";
}

namespace {

const Control* Find(const std::vector<Control>& controls, ControlKind kind) {
  const auto it = std::find_if(controls.begin(), controls.end(), [kind](const Control& c) { return c.kind == kind; });
  return it == controls.end() ? nullptr : &*it;
}

// The closest value the control takes: inside its range, on its steps.
int Clamp(const Control& c, int value) {
  const int inside = std::clamp(value, c.minimum, std::max(c.minimum, c.maximum));
  const int steps = (inside - c.minimum + c.step / 2) / c.step;
  const int snapped = c.minimum + steps * c.step;
  return snapped > c.maximum ? snapped - c.step : snapped;
}

std::string Camera(int number) { return "camera " + std::to_string(number); }

}  // namespace

std::vector<std::string> MatchControls(CaptureManager& capture, int left, int right,
                                       std::array<std::vector<Control>, 2>* set) {
  std::vector<std::string> lines;
  for (const int camera : {left, right})
    if (!capture.IsDeviceReady(camera)) lines.push_back(Camera(camera) + " is not running: controls not matched");
  if (!lines.empty()) return lines;
  const std::vector<Control> leftControls = capture.Controls(left), rightControls = capture.Controls(right);
  std::string values;
  for (const ControlKind kind : kControlKinds) {
    const std::string name = ControlName(kind);
    const Control* from = Find(leftControls, kind);
    const Control* to = Find(rightControls, kind);
    if (!from || !to) {
      std::string line = Camera(from ? right : left);
      line.append(" has no ").append(name).append(" control: ").append(name).append(" not matched");
      lines.push_back(std::move(line));
      continue;
    }
    const int value = from->value, clamped = Clamp(*to, value);
    if (!capture.SetManual(left, kind, value) || !capture.SetManual(right, kind, clamped)) {
      std::string line = Camera(left);
      line.append(" or ").append(Camera(right)).append(" refused ").append(name).append(" ");
      line.append(std::to_string(value)).append(": ").append(name).append(" not matched");
      lines.push_back(std::move(line));
      continue;
    }
    if (clamped != value)
      lines.push_back(Camera(right) + ": " + name + " " + std::to_string(value) + " clamped to " +
                      std::to_string(clamped) + " (its range is " + std::to_string(to->minimum) + "-" +
                      std::to_string(to->maximum) + ")");
    (*set)[0].push_back(*from);
    (*set)[1].push_back(*to);
    (*set)[1].back().value = clamped;
    values += (values.empty() ? "" : ", ") + name + " " + std::to_string(value);
  }
  lines.push_back(values.empty() ? "no camera control matched"
                                 : "controls matched to " + Camera(left) + ": " + values + ", all manual");
  return lines;
}

void CameraWatch::Begin(std::chrono::steady_clock::time_point now) {
  for (int side = 0; side < 2; ++side) sides_[side].entry = capture_.Entry(cameras_[side]);
  matchAt_ = now + kSettle;
}

std::string CameraWatch::Name(int side) const {
  const DeviceEntry& entry = sides_[side].entry;
  const std::string& path = entry.stablePaths.empty() ? entry.path : entry.stablePaths.front();
  return "camera " + std::to_string(cameras_[side]) + (path.empty() ? "" : " (" + path + ")");
}

void CameraWatch::Check(std::chrono::steady_clock::time_point now) {
  for (int side = 0; side < 2; ++side) {
    Side& s = sides_[side];
    const int camera = cameras_[side];
    if (!s.gone && capture_.DeviceLost(camera)) {
      capture_.CloseDevice(camera);
      s.gone = true;
      s.lookedAt = now;
      std::fprintf(stderr, "%s went away; side %d shows its last frame until it is back\n", Name(side).c_str(),
                   side + 1);
    } else if (s.gone && now - s.lookedAt >= kLookEvery) {
      s.lookedAt = now;
      if (!capture_.Reopen(camera, s.entry, width_, height_)) continue;
      s.gone = false;
      for (const Control& control : matched_[side]) capture_.SetManual(camera, control.kind, control.value);
      std::fprintf(stderr, "%s is back\n", Name(side).c_str());
    }
  }
  if (matchControls_ && now >= matchAt_) {
    matchControls_ = false;
    for (const std::string& line : MatchControls(capture_, cameras_[0], cameras_[1], &matched_))
      std::fprintf(stderr, "%s\n", line.c_str());
  }
}

}  // namespace capture
