// Where the viewer shows itself: as the command line asks, except the demo, which goes wherever it
// can (full screen on two displays, both views side by side on one, no window at all).
#pragma once

#include <functional>

#include "app/command_line.h"
#include "display/output_modes.h"

namespace app {

struct DisplayPlan {
  bool headless = false;
  bool windowed = false;
  bool headlessDemo = false;  // the demo found no display server: it runs for a while without a window
  display::OutputMode output = display::OutputMode::Dual;
};

// `displays` is asked only when the answer matters (it starts the video system).
DisplayPlan PlanDisplays(const CommandLine& options, bool haveDisplayServer, const std::function<int()>& displays);

}  // namespace app
