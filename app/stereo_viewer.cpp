#include "app/stereo_viewer.h"

#include <cstdio>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/error_text.h"
#include "stereo/rectification_maps.h"

namespace app {

namespace {

constexpr const char* kRegisterFailed = "Chyba při registraci okna aplikace!";
constexpr const char* kCreateWindowFailed = "Chyba při vytváření okna aplikace!";

}  // namespace

StereoViewer::StereoViewer(Platform platform, ViewerConfig config)
    : windowSystem_(std::move(platform.windows)),
      displayDriver_(std::move(platform.displays)),
      capture(std::move(platform.cameras)),
      config_(std::move(config)) {}

StereoViewer::~StereoViewer() {
  Shutdown();
  ReleaseResources();
}

bool StereoViewer::Init() { return InitResources() && CreateDisplays(); }

bool StereoViewer::LoadAndConvertMaps() {
  cv::Mat* maps[4] = {&mapX1, &mapY1, &mapX2, &mapY2};
  if (config_.identityMaps) {
    stereo::MakeIdentityMaps(stereo::kFrameHeight, stereo::kFrameWidth, &mapX1, &mapY1);
    stereo::MakeIdentityMaps(stereo::kFrameHeight, stereo::kFrameWidth, &mapX2, &mapY2);
  } else {
    std::fprintf(stderr, "Loading rectification maps...\n");
    for (int i = 0; i < 4; ++i) {
      const char* name = stereo::kMapFileNames[i];
      const std::string path =
          config_.mapDirectory.empty() ? name : (std::filesystem::path(config_.mapDirectory) / name).string();
      std::string reason;
      if (!stereo::LoadMap(path, stereo::kFrameHeight, stereo::kFrameWidth, maps[i], &reason)) {
        std::fprintf(stderr, "rectification map %s: %s\n", path.c_str(), reason.c_str());
        const std::string message = std::string("Nelze načíst rektifikační mapu ") + name + "!";
        SetErrorText(message.c_str());
        return false;
      }
    }
  }
  // Both maps of a side are validated to the frame size above, so the conversion cannot see a mismatch.
  cv::convertMaps(mapX1, mapY1, mapXY1, mapAlpha1, CV_16SC2);
  cv::convertMaps(mapX2, mapY2, mapXY2, mapAlpha2, CV_16SC2);
  return true;
}

bool StereoViewer::InitResources() {
  cv::setUseOptimized(true);
  if (!LoadAndConvertMaps()) return false;

  cameraId1 = 0;
  frame1.create(stereo::kFrameHeight, stereo::kFrameWidth, CV_8UC3);
  frame1.setTo(cv::Scalar::all(0));
  staging1.create(stereo::kViewHeight, stereo::kStagingWidth, CV_8UC4);
  capture.OpenDevice(cameraId1, stereo::kFrameWidth, stereo::kFrameHeight);

  if (dualDisplay) {
    cameraId2 = 1;
    frame2.create(stereo::kFrameHeight, stereo::kFrameWidth, CV_8UC3);
    frame2.setTo(cv::Scalar::all(0));
    staging2.create(stereo::kViewHeight, stereo::kStagingWidth, CV_8UC4);
    capture.OpenDevice(cameraId2, stereo::kFrameWidth, stereo::kFrameHeight);
  }

  if (!windowSystem_->RegisterWindowClass(kWindowTitle)) {
    SetErrorText(kRegisterFailed);
    return false;
  }
  if (!windowSystem_->CreatePopupWindow(kWindowTitle, kWindowTitle)) {
    SetErrorText(kCreateWindowFailed);
    return false;
  }
  window = windowSystem_->Handle();
  windowSystem_->ShowWindow();
  return true;
}

void StereoViewer::ReleaseResources() {
  capture.CloseDevice(cameraId1);
  frame1.release();
  staging1.release();
  for (cv::Mat* m : {&mapX1, &mapY1, &mapX2, &mapY2, &mapXY1, &mapAlpha1, &mapXY2, &mapAlpha2}) m->release();
  device1.reset();
  direct3D1.reset();
  if (dualDisplay) {
    capture.CloseDevice(cameraId2);
    frame2.release();
    staging2.release();
    device2.reset();
    direct3D2.reset();
  }
}

void StereoViewer::Shutdown() {
  ReleaseResources();
  if (window) windowSystem_->CloseWindow();
}

void StereoViewer::WindowProc(const WindowMessage& message) {
  switch (message.kind) {
    case WindowMessage::Kind::Destroy: windowSystem_->PostQuitMessage(0); break;
    case WindowMessage::Kind::ActivateApp: AppActive = static_cast<int>(message.wParam); break;
    case WindowMessage::Kind::KeyDown:
      if (message.wParam == kVirtualKeyEscape) windowSystem_->PostQuitMessage(0);
      break;
    default: break;
  }
}

int StereoViewer::RunMainLoop() {
  for (;;) {
    WindowMessage message;
    if (windowSystem_->PeekMessage(&message)) {
      if (message.kind == WindowMessage::Kind::Quit) return static_cast<int>(message.wParam);
      WindowProc(message);
    }
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
  const cv::Mat* stagings[2] = {&staging1, &staging2};
  for (int side = 0; side < 2; ++side) {
    if (stagings[side]->empty()) return false;
    cv::Mat view;
    cv::cvtColor((*stagings[side])(cv::Rect(0, 0, stereo::kViewWidth, stereo::kViewHeight)), view, cv::COLOR_BGRA2BGR);
    const std::string path = (std::filesystem::path(directory) / ("side" + std::to_string(side + 1) + ".png")).string();
    bool written = false;
    try {
      written = cv::imwrite(path, view);
    } catch (const cv::Exception&) {
    }
    if (!written) {
      std::fprintf(stderr, "cannot write the snapshot %s\n", path.c_str());
      return false;
    }
  }
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
