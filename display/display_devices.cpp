// Creating the two full-screen devices, and bringing both back after a loss.
#include <chrono>
#include <thread>

#include "app/error_text.h"
#include "app/stereo_viewer.h"

namespace app {

namespace {

constexpr const char* kNoDisplaySystem = "Nelze vytvořit objekt Direct3D!";
constexpr const char* kCreateDeviceFailed = "Nelze vytvořit objekt Direct3DDevice!";
constexpr const char* kNoDevice = "Neexistuje objekt Direct3DDevice!";
constexpr const char* kResetFailed = "Nelze obnovit zařízení!";

constexpr int kAdapterSide1 = 1;
constexpr int kAdapterSide2 = 0;

// One side: display-system object, device on the adapter, blanked white and presented once.
bool CreateSide(display::DisplayDriver* driver, int adapter, void* window,
                std::unique_ptr<display::DisplaySystem>* system, std::unique_ptr<display::Device>* device) {
  if (driver) *system = driver->Create();
  if (!*system) {
    SetErrorText(kNoDisplaySystem);
    return false;
  }
  const display::PresentParameters parameters = display::ViewerPresentParameters(window);
  if ((*system)->CreateDevice(adapter, window, parameters, device) != display::D3D_OK) {
    SetErrorText(kCreateDeviceFailed);
    return false;
  }
  if (!*device) {
    SetErrorText(kNoDevice);
    return false;
  }
  (*device)->Clear(display::kWhite);
  (*device)->Present();
  return true;
}

bool ResetOne(display::Device& device, void* window) {
  const display::PresentParameters parameters = display::ViewerPresentParameters(window);
  if (device.Reset(parameters) != display::D3D_OK) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return true;
}

}  // namespace

bool StereoViewer::CreateDisplays() {
  if (!CreateSide(displayDriver_.get(), kAdapterSide1, window, &direct3D1, &device1)) return false;
  if (dualDisplay && !CreateSide(displayDriver_.get(), kAdapterSide2, window, &direct3D2, &device2)) return false;
  return true;
}

void StereoViewer::ResetDisplays() {
  if (!ResetOne(*device1, window) || (dualDisplay && !ResetOne(*device2, window))) {
    SetErrorText(kResetFailed);
    windowSystem_->PostQuitMessage(0);
  }
}

}  // namespace app
