// The window seam: the pop-up window, its message queue and the error box.
#pragma once

#include <cstdint>

namespace app {

using WindowHandle = void*;

inline constexpr int kVirtualKeyEscape = 27;

// One message of the queue, reduced to what the window procedure distinguishes.
struct WindowMessage {
  enum class Kind { Quit, Destroy, ActivateApp, KeyDown, Other };
  Kind kind = Kind::Other;
  // ActivateApp: non-zero when the application becomes active. KeyDown: the key code. Quit: exit code.
  std::intptr_t wParam = 0;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Stands in for window class registration; false when the window system is unavailable.
  virtual bool RegisterWindowClass(const char* className) = 0;
  // The small pop-up window; false when it cannot be created.
  virtual bool CreatePopupWindow(const char* className, const char* title) = 0;
  virtual void ShowWindow() = 0;
  // Removes at most one message; never waits. False when the queue is empty.
  virtual bool PeekMessage(WindowMessage* message) = 0;
  // Queues a quit request that a later PeekMessage retrieves.
  virtual void PostQuitMessage(int exitCode) = 0;
  // Minimises the window; it is not destroyed.
  virtual void CloseWindow() = 0;
  // Blocks until dismissed; where no display can show it, the text goes to standard error.
  virtual void ShowErrorBox(const char* text, const char* caption) = 0;
  // The window as display devices know it (their focus window); null before creation.
  virtual WindowHandle Handle() const = 0;
};

}  // namespace app
