// stereo-viewer: a live stereoscopic viewer with automatic convergence.
#include <memory>

#include "app/sdl/sdl_window_system.h"
#include "app/stereo_viewer.h"

int main(int argc, char** argv) {
  app::Platform platform;
  platform.windows = std::make_unique<app::SdlWindowSystem>();
  return app::WinMain(std::move(platform));
}
