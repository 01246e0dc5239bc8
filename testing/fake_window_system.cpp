#include "testing/fake_window_system.h"

namespace testkit {

bool FakeWindowSystem::RegisterWindowClass(const char* className) {
  state_->log.push_back(std::string("window: register ") + className);
  return !state_->failRegister;
}

bool FakeWindowSystem::CreatePopupWindow(const char* className, const char* title) {
  state_->log.push_back(std::string("window: create ") + title);
  state_->created = !state_->failCreate;
  return state_->created;
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
  state_->log.emplace_back("window: quit requested");
  state_->queue.push_back({app::WindowMessage::Kind::Quit, exitCode});
}

void FakeWindowSystem::ShowErrorBox(const char* text, const char* caption) {
  state_->log.push_back(std::string("window: box ") + caption + ": " + text);
  state_->boxes.emplace_back(text);
}

}  // namespace testkit
