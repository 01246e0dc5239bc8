#include "app/comfort_options.h"

#include <cerrno>
#include <cstdlib>

namespace app {

namespace {

// Read as strtod reads it; nothing may follow the number.
std::optional<double> ReadNumber(const std::string& text, double most) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || *end != '\0' || !(value > 0 && value <= most)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<stereo::ParallaxBudget> ReadBudget(const std::string& text) {
  double figures[3];
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? text.find(',', start) : text.size();
    if (end == std::string::npos) return std::nullopt;
    const std::optional<double> figure = ReadNumber(text.substr(start, end - start), 100);
    if (!figure) return std::nullopt;
    figures[i] = *figure;
    start = end + 1;
  }
  stereo::ParallaxBudget budget;
  budget.behindPct = figures[0];
  budget.inFrontPct = figures[1];
  budget.totalPct = figures[2];
  return budget;
}

std::optional<double> ReadScreenWidth(const std::string& text) { return ReadNumber(text, 100000); }

stereo::ConvergenceOptions ConvergenceOf(const CommandLine& options) {
  stereo::ConvergenceOptions convergence;
  convergence.comfort = options.comfort;
  convergence.budget = options.budget.value_or(stereo::ParallaxBudget{});
  convergence.budget.screenWidthMm = options.screenWidthMm.value_or(0);
  convergence.holdWhenUnsure = options.holdWhenUnsure;
  return convergence;
}

}  // namespace app
