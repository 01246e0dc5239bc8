#include "app/headless/headless_window_system.h"

#include <csignal>
#include <cstdio>

namespace app {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) { interrupted = 1; }

}  // namespace

HeadlessWindowSystem::HeadlessWindowSystem() {
  interrupted = 0;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

HeadlessWindowSystem::~HeadlessWindowSystem() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

bool HeadlessWindowSystem::PeekMessage(WindowMessage* message) {
  if (quitPosted_) {
    quitPosted_ = false;
    *message = {WindowMessage::Kind::Quit, quitCode_};
    return true;
  }
  if (interrupted && !destroyed_) {
    destroyed_ = true;
    *message = {WindowMessage::Kind::Destroy, 0};
    return true;
  }
  return false;
}

void HeadlessWindowSystem::PostQuitMessage(int exitCode) {
  quitPosted_ = true;
  quitCode_ = exitCode;
}

void HeadlessWindowSystem::ShowErrorBox(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
}

}  // namespace app
