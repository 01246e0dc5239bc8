// Scripted window system for tests: queued messages, injectable failures, recorded boxes.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/fake/call_log.h"
#include "app/window_system.h"

namespace fake {

// Lives as long as the test needs it; the window system the viewer owns points at it.
struct WindowState {
  bool failRegister = false;
  bool failCreate = false;
  std::deque<app::WindowMessage> queue;
  // Called at the start of every PeekMessage with the pass number (0 first), to inject messages.
  std::function<void(int pass)> onPass;
  // Posts a quit request on this pass when the test forgot to (keeps a broken test from hanging).
  int quitAtPass = 100000;
  int passes = 0;
  bool registered = false, created = false, shown = false, minimized = false;
  std::vector<std::string> boxes;  // texts of the error boxes shown
  std::vector<std::string> boxCaptions;
  CallLog* log = nullptr;
};

class FakeWindowSystem : public app::WindowSystem {
 public:
  explicit FakeWindowSystem(std::shared_ptr<WindowState> state) : state_(std::move(state)) {}

  bool RegisterWindowClass(const char* className) override;
  bool CreatePopupWindow(const char* className, const char* title) override;
  void ShowWindow() override;
  bool PeekMessage(app::WindowMessage* message) override;
  void PostQuitMessage(int exitCode) override;
  void CloseWindow() override;
  void ShowErrorBox(const char* text, const char* caption) override;
  app::WindowHandle Handle() const override;

 private:
  std::shared_ptr<WindowState> state_;
};

}  // namespace fake
