#include "app/stereo_viewer.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/error_text.h"
#include "display/overlay.h"

namespace app {

namespace {

constexpr const char* kRegisterFailed = "Chyba při registraci okna aplikace!";
constexpr const char* kCreateWindowFailed = "Chyba při vytváření okna aplikace!";

const char* TextOf(display::Status status) {
  switch (status) {
    case display::Status::NoDisplaySystem: return "Nelze vytvořit objekt Direct3D!";
    case display::Status::CreateDeviceFailed: return "Nelze vytvořit objekt Direct3DDevice!";
    case display::Status::NoDevice: return "Neexistuje objekt Direct3DDevice!";
    case display::Status::ResetFailed: return "Nelze obnovit zařízení!";
    case display::Status::NoBackBuffer: return "Nelze získat ukazatel na back buffer!";
    case display::Status::Ok: break;
  }
  return "OK";
}

bool WriteImage(const std::string& path, const cv::Mat& image) {
  bool written = false;
  try {
    written = !image.empty() && cv::imwrite(path, image);
  } catch (const cv::Exception&) {
  }
  if (!written) std::fprintf(stderr, "cannot write the snapshot %s\n", path.c_str());
  return written;
}

// A name that tells when the snapshot was taken, to the millisecond, so that quick presses differ.
std::string TimedSnapshotName() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char name[64];
  std::snprintf(name, sizeof name, "stereo-viewer-%s-%03d.png", stamp, static_cast<int>(ms));
  return name;
}

}  // namespace

StereoViewer::StereoViewer(Platform platform, ViewerConfig config)
    : windowSystem_(std::move(platform.windows)),
      displays_(std::move(platform.displays), config.geometry.view),
      capture_(std::move(platform.cameras)),
      pipeline_(config.geometry),
      config_(std::move(config)),
      watch_(capture_, config_.cameras, config_.geometry.frame.width, config_.geometry.frame.height,
             config_.matchControls),
      control_(std::move(platform.control)) {
  pipeline_.SetConvergenceOptions(config_.convergence);
  pipeline_.SetCameras(config_.cameras[0], config_.cameras[1], config_.pairing);
}

StereoViewer::~StereoViewer() {
  Shutdown();
  ReleaseResources();
}

bool StereoViewer::Init() { return InitResources() && CreateDisplays(); }

bool StereoViewer::InitResources() {
  cv::setUseOptimized(true);
  displays_.SetOutput(config_.output);
  pipeline_.SetSwapped(config_.swapEyes);
  for (int side = 0; side < 2; ++side) pipeline_.SetMirror(side, config_.mirror[side]);
  if (config_.identityMaps) {
    pipeline_.UseIdentityMaps();
  } else {
    std::string badFile;
    if (!pipeline_.LoadMaps(config_.mapDirectory, &badFile)) {
      SetErrorText(("Nelze načíst rektifikační mapu " + badFile + "!").c_str());
      return false;
    }
  }
  for (int side = 0; side < 2; ++side) {
    pipeline_.CreateFrame(side);
    displays_.CreateStaging(side);
    const cv::Size frame = config_.geometry.frame;
    capture_.OpenDevice(pipeline_.Camera(side), frame.width, frame.height);
  }
  watch_.Begin(std::chrono::steady_clock::now());
  if (!windowSystem_->RegisterWindowClass(kWindowTitle)) {
    SetErrorText(kRegisterFailed);
    return false;
  }
  if (!windowSystem_->CreatePopupWindow(kWindowTitle, kWindowTitle)) {
    SetErrorText(kCreateWindowFailed);
    return false;
  }
  window_ = windowSystem_->Handle();
  windowSystem_->ShowWindow();
  return true;
}

bool StereoViewer::CreateDisplays() {
  for (int side = 0; side < 2; ++side) {
    const display::Status status = displays_.Create(side, window_);
    if (status != display::Status::Ok) {
      SetErrorText(TextOf(status));
      return false;
    }
  }
  return true;
}

bool StereoViewer::DeviceReady(int side) {
  switch (displays_.Check(side)) {
    case display::DeviceState::Lost: return false;
    case display::DeviceState::NeedsReset: ResetDisplays(); return false;
    case display::DeviceState::Ready: break;
  }
  return true;
}

void StereoViewer::FrameStep() {
  watch_.Check(std::chrono::steady_clock::now());
  if (!DeviceReady(0)) return;
  pipeline_.AwaitPair(capture_);
  const bool new1 = pipeline_.TakeFrame(0, capture_);
  if (!DeviceReady(1)) return;
  const bool new2 = pipeline_.TakeFrame(1, capture_);
  lastStep_ = pipeline_.Match(new1, new2);
  const cv::Mat overlay = OverlayPatch();
  const std::uint64_t overlayShown = overlay_ ? overlayRevision_ : 0;
  std::array<bool, 2> unchanged{};
  for (int side = 0; side < 2; ++side) {
    unchanged[side] = pipeline_.ViewRevision(side) == presentedView_[side] && overlayShown == presentedOverlay_;
    presentedView_[side] = pipeline_.ViewRevision(side);
  }
  presentedOverlay_ = overlayShown;
  for (display::Status status : displays_.Present(pipeline_.View(0), pipeline_.View(1), overlay, unchanged)) {
    if (status == display::Status::Ok) continue;
    SetErrorText(TextOf(status));
    windowSystem_->PostQuitMessage(0);
  }
  lastStep_.presented = std::chrono::steady_clock::now();
  figures_.Update(lastStep_);
}

cv::Mat StereoViewer::OverlayPatch() {
  if (!overlay_) return {};
  // Figures that change every pass are unreadable anyway: the text is rendered again at most five
  // times a second, and at once when the operator changes a setting.
  constexpr auto kRefresh = std::chrono::milliseconds(200);
  const auto settings = std::make_tuple(pipeline_.nudge(), pipeline_.locked(), pipeline_.swapped());
  const auto now = std::chrono::steady_clock::now();
  if (overlayPatch_.empty() || settings != overlaySettings_ || now - overlayRendered_ >= kRefresh) {
    const stereo::ConvergenceOptions& convergence = config_.convergence;
    std::vector<std::string> lines =
        figures_.Lines(lastStep_, pipeline_.nudge(), pipeline_.locked(), pipeline_.swapped(),
                       convergence.comfort ? &convergence.budget : nullptr);
    if (overlayPatch_.empty() || lines != overlayLines_) {
      std::optional<display::DepthBar> bar;
      const stereo::ComfortRecord& depth = lastStep_.comfort;
      if (convergence.comfort && depth.known)
        bar = display::DepthBar{depth.parallaxNearPct, depth.parallaxFarPct, convergence.budget.inFrontPct,
                                convergence.budget.behindPct, convergence.budget.totalPct};
      overlayPatch_ = display::RenderOverlay(lines, bar);
      ++overlayRevision_;
      overlayLines_ = std::move(lines);
    }
    overlaySettings_ = settings;
    overlayRendered_ = now;
  }
  return overlayPatch_;
}

void StereoViewer::ResetDisplays() {
  for (int side = 0; side < 2; ++side) {
    const display::Status status = displays_.Reset(side);
    if (status != display::Status::Ok) {
      SetErrorText(TextOf(status));
      windowSystem_->PostQuitMessage(0);
      return;
    }
  }
}

void StereoViewer::ReleaseResources() {
  capture_.CloseDevice(pipeline_.Camera(0));
  pipeline_.ReleaseFrame(0);
  displays_.ReleaseStaging(0);
  pipeline_.ReleaseMaps();
  displays_.ReleaseDevice(0);
  capture_.CloseDevice(pipeline_.Camera(1));
  pipeline_.ReleaseFrame(1);
  displays_.ReleaseStaging(1);
  displays_.ReleaseDevice(1);
}

void StereoViewer::Shutdown() {
  ReleaseResources();
  if (window_) windowSystem_->CloseWindow();
}

void StereoViewer::WindowProc(const WindowMessage& message) {
  switch (message.kind) {
    case WindowMessage::Kind::Destroy: windowSystem_->PostQuitMessage(0); break;
    case WindowMessage::Kind::ActivateApp: AppActive = static_cast<int>(message.wParam); break;
    case WindowMessage::Kind::KeyDown:
      if (message.wParam == kVirtualKeyEscape) {
        windowSystem_->PostQuitMessage(0);
      } else if (OperatorCommand command; CommandOfKey(message.wParam, &command)) {
        Apply(command);
      }
      break;
    default: break;
  }
}

void StereoViewer::Apply(const OperatorCommand& command) {
  using Kind = OperatorCommand::Kind;
  switch (command.kind) {
    case Kind::Swap: pipeline_.SetSwapped(!pipeline_.swapped()); break;
    case Kind::Nudge: pipeline_.SetNudge(pipeline_.nudge() + command.value); break;
    case Kind::SetNudge: pipeline_.SetNudge(command.value); break;
    case Kind::Lock: pipeline_.SetLocked(true); break;
    case Kind::Unlock: pipeline_.SetLocked(false); break;
    case Kind::ToggleLock: pipeline_.SetLocked(!pipeline_.locked()); break;
    case Kind::Overlay: overlay_ = command.value < 0 ? !overlay_ : command.value != 0; break;
    case Kind::Snapshot:
      WriteShown(command.path.empty() ? (std::filesystem::current_path() / TimedSnapshotName()).string()
                                      : command.path);
      break;
    case Kind::Quit: windowSystem_->PostQuitMessage(0); break;
  }
}

int StereoViewer::RunMainLoop() {
  for (;;) {
    WindowMessage message;
    if (windowSystem_->PeekMessage(&message)) {
      if (message.kind == WindowMessage::Kind::Quit) return static_cast<int>(message.wParam);
      WindowProc(message);
    }
    if (control_)
      for (const OperatorCommand& command : control_->Poll()) Apply(command);
    if (AppActive) {
      FrameStep();
      ++frameSteps_;
      if (observer_) observer_(*this);
      if (config_.maxPasses > 0 && frameSteps_ == config_.maxPasses)
        WindowProc({WindowMessage::Kind::KeyDown, kVirtualKeyEscape});
    }
  }
}

bool StereoViewer::WriteSnapshots(const std::string& directory) const {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  const std::filesystem::path folder(directory);
  if (displays_.OneDisplay()) return WriteImage((folder / "view.png").string(), displays_.Shown());
  for (int side = 0; side < 2; ++side) {
    const cv::Mat& staging = displays_.Staging(side);
    if (staging.empty()) return false;
    cv::Mat view;
    cv::cvtColor(staging(cv::Rect(cv::Point(), config_.geometry.view)), view, cv::COLOR_BGRA2BGR);
    if (!WriteImage((folder / ("side" + std::to_string(side + 1) + ".png")).string(), view)) return false;
  }
  return true;
}

bool StereoViewer::WriteShown(const std::string& path) const {
  if (!WriteImage(path, displays_.Shown())) return false;
  std::error_code ec;
  const std::filesystem::path where = std::filesystem::absolute(path, ec);
  std::fprintf(stderr, "snapshot written to %s\n", (ec ? path : where.string()).c_str());
  return true;
}

int WinMain(Platform platform, ViewerConfig config, std::function<void(StereoViewer&)> observer) {
  cv::setUseOptimized(false);
  auto viewer = std::make_unique<StereoViewer>(std::move(platform), std::move(config));
  viewer->SetPassObserver(std::move(observer));
  SetErrorText("OK");
  if (!viewer->Init()) {
    viewer->Shutdown();
    viewer->windows().ShowErrorBox(ErrorText, kWindowTitle);
    viewer.reset();
    return 0;
  }
  int result = viewer->RunMainLoop();
  if (!viewer->config().snapshotDirectory.empty()) viewer->WriteSnapshots(viewer->config().snapshotDirectory);
  viewer->Shutdown();
  if (!ErrorTextIsOk()) {
    viewer->windows().ShowErrorBox(ErrorText, kWindowTitle);
    result = 0;
  }
  viewer.reset();
  return result;
}

}  // namespace app
