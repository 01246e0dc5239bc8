// The window seam without any window: for servers, benchmarks and checks. Ctrl+C or SIGTERM stand in
// for closing the window.
#pragma once

#include "app/window_system.h"

namespace app {

class HeadlessWindowSystem : public WindowSystem {
 public:
  HeadlessWindowSystem();
  ~HeadlessWindowSystem() override;

  bool RegisterWindowClass(const char* className) override { return true; }
  bool CreatePopupWindow(const char* className, const char* title) override { return true; }
  void ShowWindow() override {}
  bool PeekMessage(WindowMessage* message) override;
  void PostQuitMessage(int exitCode) override;
  void CloseWindow() override {}
  void ShowErrorBox(const char* text, const char* caption) override;
  WindowHandle Handle() const override { return const_cast<HeadlessWindowSystem*>(this); }

 private:
  bool quitPosted_ = false;
  int quitCode_ = 0;
  bool destroyed_ = false;
};

}  // namespace app
