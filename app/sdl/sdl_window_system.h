// The window seam on SDL2: video initialisation, a small borderless window, the event queue.
#pragma once

#include <memory>

#include "app/window_system.h"

struct SDL_Window;

namespace app {

class SdlWindowSystem : public WindowSystem {
 public:
  SdlWindowSystem() = default;
  ~SdlWindowSystem() override;
  SdlWindowSystem(const SdlWindowSystem&) = delete;
  SdlWindowSystem& operator=(const SdlWindowSystem&) = delete;

  bool RegisterWindowClass(const char* className) override;
  bool CreatePopupWindow(const char* className, const char* title) override;
  void ShowWindow() override;
  bool PeekMessage(WindowMessage* message) override;
  void PostQuitMessage(int exitCode) override;
  void CloseWindow() override;
  void ShowErrorBox(const char* text, const char* caption) override;
  WindowHandle Handle() const override { return window_; }

 private:
  bool videoStarted_ = false;
  SDL_Window* window_ = nullptr;
  bool quitPosted_ = false;
  int quitCode_ = 0;
  bool active_ = true;  // the application starts active, as if it had just been activated
};

}  // namespace app
