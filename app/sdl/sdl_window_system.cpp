#include "app/sdl/sdl_window_system.h"

#include <cstdio>

#include <SDL.h>

namespace app {

namespace {

// The operator's keys by what they show, wherever a keyboard puts them: + is shifted = on some
// layouts (SDL names a key by its unshifted symbol) and the keypad has its own codes.
std::intptr_t KeyOf(SDL_Keycode key) {
  switch (key) {
    case SDLK_EQUALS:
    case SDLK_KP_PLUS: return '+';
    case SDLK_KP_MINUS: return '-';
    case SDLK_KP_0: return '0';
    default: return key;
  }
}

}  // namespace

SdlWindowSystem::~SdlWindowSystem() {
  if (window_) SDL_DestroyWindow(window_);
  if (videoStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool SdlWindowSystem::RegisterWindowClass(const char* className) {
  if (videoStarted_) return true;
  // Keep the displays awake and let Escape reach us even over full-screen windows.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "0");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "video system unavailable: %s\n", SDL_GetError());
    return false;
  }
  videoStarted_ = true;
  return true;
}

bool SdlWindowSystem::CreatePopupWindow(const char* className, const char* title) {
  window_ = SDL_CreateWindow(title, 0, 0, 160, 40, SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
  if (!window_) std::fprintf(stderr, "cannot create the window: %s\n", SDL_GetError());
  return window_ != nullptr;
}

// The window only receives messages: shown, a window manager could raise it over a view. It stays
// unmapped; keys reach the viewer through the views' windows.
void SdlWindowSystem::ShowWindow() {}

bool SdlWindowSystem::PeekMessage(WindowMessage* message) {
  if (quitPosted_) {
    quitPosted_ = false;
    *message = {WindowMessage::Kind::Quit, quitCode_};
    return true;
  }
  if (!videoStarted_) return false;
  SDL_Event event;
  if (!SDL_PollEvent(&event)) return false;
  *message = {WindowMessage::Kind::Other, 0};
  switch (event.type) {
    case SDL_QUIT: message->kind = WindowMessage::Kind::Destroy; break;
    case SDL_KEYDOWN:
      message->kind = WindowMessage::Kind::KeyDown;
      // SDL's key code for Escape is 27, the same as the virtual-key code the window procedure tests.
      static_assert(SDLK_ESCAPE == kVirtualKeyEscape);
      message->wParam = KeyOf(event.key.keysym.sym);
      break;
    case SDL_WINDOWEVENT:
      switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE: message->kind = WindowMessage::Kind::Destroy; break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          if (!active_) {
            active_ = true;
            *message = {WindowMessage::Kind::ActivateApp, 1};
          }
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          // Focus moving between our own windows keeps the application active.
          if (active_ && SDL_GetKeyboardFocus() == nullptr) {
            active_ = false;
            *message = {WindowMessage::Kind::ActivateApp, 0};
          }
          break;
        default: break;
      }
      break;
    default: break;
  }
  return true;
}

void SdlWindowSystem::PostQuitMessage(int exitCode) {
  quitPosted_ = true;
  quitCode_ = exitCode;
}

void SdlWindowSystem::CloseWindow() {
  if (window_) SDL_MinimizeWindow(window_);
}

void SdlWindowSystem::ShowErrorBox(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
}

}  // namespace app
