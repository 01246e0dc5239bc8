#include "app/fake/fake_window_system.h"

namespace fake {

bool FakeWindowSystem::RegisterWindowClass(const char* className) {
  Record(state_->log, std::string("window: register ") + className);
  state_->registered = !state_->failRegister;
  return state_->registered;
}

bool FakeWindowSystem::CreatePopupWindow(const char* className, const char* title) {
  Record(state_->log, std::string("window: create ") + title);
  state_->created = !state_->failCreate;
  return state_->created;
}

void FakeWindowSystem::ShowWindow() {
  Record(state_->log, "window: show");
  state_->shown = true;
}

bool FakeWindowSystem::PeekMessage(app::WindowMessage* message) {
  const int pass = state_->passes++;
  if (state_->onPass) state_->onPass(pass);
  if (pass >= state_->quitAtPass) state_->queue.push_back({app::WindowMessage::Kind::Quit, 0});
  if (state_->queue.empty()) return false;
  *message = state_->queue.front();
  state_->queue.pop_front();
  return true;
}

void FakeWindowSystem::PostQuitMessage(int exitCode) {
  Record(state_->log, "window: quit requested");
  state_->queue.push_back({app::WindowMessage::Kind::Quit, exitCode});
}

void FakeWindowSystem::CloseWindow() {
  Record(state_->log, "window: minimise");
  state_->minimized = true;
}

void FakeWindowSystem::ShowErrorBox(const char* text, const char* caption) {
  Record(state_->log, std::string("window: box ") + text);
  state_->boxes.emplace_back(text);
  state_->boxCaptions.emplace_back(caption);
}

app::WindowHandle FakeWindowSystem::Handle() const {
  return state_->created ? const_cast<WindowState*>(state_.get()) : nullptr;
}

}  // namespace fake
