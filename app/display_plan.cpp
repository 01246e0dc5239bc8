#include "app/display_plan.h"

namespace app {

DisplayPlan PlanDisplays(const CommandLine& options, bool haveDisplayServer, const std::function<int()>& displays) {
  DisplayPlan plan{options.headless, options.windowed, false, options.output};
  if (!options.demo || plan.headless || plan.windowed) return plan;
  if (!haveDisplayServer) {
    plan.headless = plan.headlessDemo = true;
  } else if (plan.output == display::OutputMode::Dual && displays() < 2) {
    // Dual asked for in so many words gets its two windows; otherwise one picture of both views.
    if (options.outputGiven) {
      plan.windowed = true;
    } else {
      plan.output = display::OutputMode::SideBySide;
    }
  }
  return plan;
}

}  // namespace app
