// The values of the options that keep convergence comfortable, as the command line reads them, and
// what the frame pipeline makes of them.
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "stereo/frame_pipeline.h"

namespace app {

// "B,F,T": the parallax allowed behind the screen, in front of it and in all, in per cent of the
// view width, each above 0 and at most 100.
std::optional<stereo::ParallaxBudget> ReadBudget(const std::string& text);
// Millimetres above 0 and at most 100 m.
std::optional<double> ReadScreenWidth(const std::string& text);

stereo::ConvergenceOptions ConvergenceOf(const CommandLine& options);

}  // namespace app
