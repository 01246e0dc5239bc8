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

  bool RegisterWindowClass(const char* className) override {
    state_->log.push_back(std::string("window: register ") + className);
    return !state_->failRegister;
  }
  bool CreatePopupWindow(const char* className, const char* title) override {
    state_->log.push_back(std::string("window: create ") + title);
    return state_->created = !state_->failCreate;
  }
  void ShowWindow() override { state_->log.emplace_back("window: show"); }
  bool PeekMessage(app::WindowMessage* message) override {
    const int pass = state_->passes++;
    if (state_->onPass) state_->onPass(pass);
    if (pass >= state_->quitAtPass) state_->queue.push_back({app::WindowMessage::Kind::Quit, 0});
    if (state_->queue.empty()) return false;
    *message = state_->queue.front();
    state_->queue.pop_front();
    return true;
  }
  void PostQuitMessage(int exitCode) override {
    state_->log.emplace_back("window: quit requested");
    state_->queue.push_back({app::WindowMessage::Kind::Quit, exitCode});
  }
  void CloseWindow() override { state_->log.emplace_back("window: minimise"); }
  void ShowErrorBox(const char* text, const char* caption) override {
    state_->log.push_back(std::string("window: box ") + caption + ": " + text);
    state_->boxes.emplace_back(text);
  }
  app::WindowHandle Handle() const override { return state_->created ? state_.get() : nullptr; }

 private:
  std::shared_ptr<WindowState> state_;
};

}  // namespace testkit
