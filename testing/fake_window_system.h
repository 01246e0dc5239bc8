// Scripted window system for tests: queued messages, injectable failures, recorded boxes, and one
// log of calls that the harness shares with the off-screen displays, so orders across both show.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/window_system.h"

namespace testkit {

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
  bool created = false;
  std::vector<std::string> boxes;  // texts of the error boxes shown
  std::vector<std::string> log;    // "window: ..." and, through the harness, "display: ..." entries
};

class FakeWindowSystem : public app::WindowSystem {
 public:
  explicit FakeWindowSystem(std::shared_ptr<WindowState> state) : state_(std::move(state)) {}

  bool RegisterWindowClass(const char* className) override;
  bool CreatePopupWindow(const char* className, const char* title) override;
  void ShowWindow() override { state_->log.emplace_back("window: show"); }
  bool PeekMessage(app::WindowMessage* message) override;
  void PostQuitMessage(int exitCode) override;
  void CloseWindow() override { state_->log.emplace_back("window: minimise"); }
  void ShowErrorBox(const char* text, const char* caption) override;
  app::WindowHandle Handle() const override { return state_->created ? state_.get() : nullptr; }

 private:
  std::shared_ptr<WindowState> state_;
};

}  // namespace testkit
