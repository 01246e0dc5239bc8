#include "tools/stereo_maps/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace stereo_maps {

const char* const kUsage =
    "usage: stereo-maps COMMAND [OPTIONS]\n"
    "Makes the rectification maps mx1.xml, my1.xml (left camera) and mx2.xml, my2.xml (right camera).\n"
    "\n"
    "commands:\n"
    "  identity [--size WxH] [--out DIR]\n"
    "      write maps that leave the frames as they are (default 1024x768)\n"
    "  calibrate --left GLOB --right GLOB --board CxR --square SIZE [--out DIR]\n"
    "      find a chessboard of C x R inner corners in every left/right pair (matched in sorted\n"
    "      order), calibrate both cameras and the pair, and write the four maps at the images' size\n"
    "      plus calibration.yml; SIZE is the side of one square (its unit is the unit of T)\n"
    "  check [--maps DIR] --left IMAGE --right IMAGE [--out FILE] [--board CxR]\n"
    "      rectify one pair with the maps and write a side-by-side picture with horizontal guide\n"
    "      lines (default check.png); prints the vertical misalignment when the board is visible\n"
    "  --help\n"
    "      this text\n"
    "\n"
    "Quote the globs ('left*.jpg') or let the shell expand them; DIR defaults to the current\n"
    "directory. The viewer needs 1024x768 maps: photograph the board at that size.\n"
    "Exit code 0 on success, 1 on any error (one line on standard error).\n";

namespace {

constexpr int kMaxSide = 65536;
constexpr int kMaxBoardSide = 100;

bool Fail(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

bool ParseBoard(const std::string& text, cv::Size* board) {
  cv::Size size;
  if (!ParseSize(text, &size) || size.width < 2 || size.height < 2 || size.width > kMaxBoardSide ||
      size.height > kMaxBoardSide)
    return false;
  *board = size;
  return true;
}

bool ParsePositive(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed <= 0.0) return false;
  *value = parsed;
  return true;
}

// One option and its value(s): "--name value", "--name=value"; `extra` collects the words that
// follow the value up to the next option, for globs the shell has already expanded.
struct Option {
  std::string name;
  std::string value;
  std::vector<std::string> extra;
};

bool SplitOptions(const std::vector<std::string>& args, size_t first, std::vector<Option>* options,
                  std::string* error) {
  for (size_t i = first; i < args.size();) {
    const std::string& word = args[i];
    if (word.rfind("--", 0) != 0 || word.size() == 2)
      return Fail(error, "unexpected argument '" + word + "' (see stereo-maps --help)");
    Option option;
    if (word == "--help") {
      option.name = "help";
      options->push_back(std::move(option));
      ++i;
      continue;
    }
    const size_t equals = word.find('=');
    if (equals != std::string::npos) {
      option.name = word.substr(2, equals - 2);
      option.value = word.substr(equals + 1);
      ++i;
    } else {
      option.name = word.substr(2);
      if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0)
        return Fail(error, "--" + option.name + " needs a value");
      option.value = args[i + 1];
      i += 2;
    }
    while (i < args.size() && args[i].rfind("--", 0) != 0) option.extra.push_back(args[i++]);
    options->push_back(std::move(option));
  }
  return true;
}

bool NoExtra(const Option& option, std::string* error) {
  if (option.extra.empty()) return true;
  return Fail(error, "unexpected argument '" + option.extra.front() + "' after --" + option.name +
                         " (quote a glob so the shell leaves it alone)");
}

bool UnknownOption(const std::string& command, const Option& option, std::string* error) {
  return Fail(error, "unknown option --" + option.name + " for " + command + " (see stereo-maps --help)");
}

bool ParseIdentity(const std::vector<Option>& options, IdentityOptions* out, std::string* error) {
  for (const Option& option : options) {
    if (!NoExtra(option, error)) return false;
    if (option.name == "size") {
      if (!ParseSize(option.value, &out->size)) return Fail(error, "--size '" + option.value + "' is not WIDTHxHEIGHT");
    } else if (option.name == "out") {
      out->outDir = option.value;
    } else {
      return UnknownOption("identity", option, error);
    }
  }
  return true;
}

bool ParseCalibrate(const std::vector<Option>& options, CalibrateOptions* out, std::string* error) {
  bool haveBoard = false, haveSquare = false;
  for (const Option& option : options) {
    if (option.name == "left" || option.name == "right") {
      auto& patterns = option.name == "left" ? out->leftPatterns : out->rightPatterns;
      patterns.push_back(option.value);
      patterns.insert(patterns.end(), option.extra.begin(), option.extra.end());
      continue;
    }
    if (!NoExtra(option, error)) return false;
    if (option.name == "board") {
      if (!ParseBoard(option.value, &out->board))
        return Fail(error, "--board '" + option.value + "' is not COLUMNSxROWS of inner corners, each 2 to 100");
      haveBoard = true;
    } else if (option.name == "square") {
      if (!ParsePositive(option.value, &out->squareSize))
        return Fail(error, "--square '" + option.value + "' is not a positive number");
      haveSquare = true;
    } else if (option.name == "out") {
      out->outDir = option.value;
    } else {
      return UnknownOption("calibrate", option, error);
    }
  }
  if (out->leftPatterns.empty()) return Fail(error, "calibrate needs --left GLOB");
  if (out->rightPatterns.empty()) return Fail(error, "calibrate needs --right GLOB");
  if (!haveBoard) return Fail(error, "calibrate needs --board CxR (inner corners, for example 9x6)");
  if (!haveSquare) return Fail(error, "calibrate needs --square SIZE (the side of one square)");
  return true;
}

bool ParseCheck(const std::vector<Option>& options, CheckOptions* out, std::string* error) {
  for (const Option& option : options) {
    if (!NoExtra(option, error)) return false;
    if (option.name == "maps") {
      out->mapsDir = option.value;
    } else if (option.name == "left") {
      out->left = option.value;
    } else if (option.name == "right") {
      out->right = option.value;
    } else if (option.name == "out") {
      out->outFile = option.value;
    } else if (option.name == "board") {
      if (!ParseBoard(option.value, &out->board))
        return Fail(error, "--board '" + option.value + "' is not COLUMNSxROWS of inner corners, each 2 to 100");
    } else {
      return UnknownOption("check", option, error);
    }
  }
  if (out->left.empty()) return Fail(error, "check needs --left IMAGE");
  if (out->right.empty()) return Fail(error, "check needs --right IMAGE");
  return true;
}

}  // namespace

bool ParseSize(const std::string& text, cv::Size* size) {
  const size_t x = text.find_first_of("xX*");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
  const std::string width = text.substr(0, x), height = text.substr(x + 1);
  for (const std::string& part : {width, height})
    for (char c : part)
      if (c < '0' || c > '9') return false;
  if (width.size() > 6 || height.size() > 6) return false;
  const int w = std::atoi(width.c_str()), h = std::atoi(height.c_str());
  if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide) return false;
  *size = cv::Size(w, h);
  return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* line, std::string* error) {
  if (args.empty()) return Fail(error, "no command given (see stereo-maps --help)");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    line->command = Command::kHelp;
    return true;
  }
  std::vector<Option> options;
  if (!SplitOptions(args, 1, &options, error)) return false;
  for (const Option& option : options)
    if (option.name == "help") {
      line->command = Command::kHelp;
      return true;
    }
  if (command == "identity") {
    line->command = Command::kIdentity;
    return ParseIdentity(options, &line->identity, error);
  }
  if (command == "calibrate") {
    line->command = Command::kCalibrate;
    return ParseCalibrate(options, &line->calibrate, error);
  }
  if (command == "check") {
    line->command = Command::kCheck;
    return ParseCheck(options, &line->check, error);
  }
  return Fail(error, "unknown command '" + command + "' (see stereo-maps --help)");
}

}  // namespace stereo_maps
