#include "tools/stereo_maps/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <utility>

#include <CLI/CLI.hpp>

namespace stereo_maps {

namespace {

constexpr int kMaxSide = 65536;
constexpr int kMaxBoardSide = 100;

constexpr const char* kNotes =
    "Quote the globs ('left*.jpg') or let the shell expand them; DIR defaults to the current\n"
    "directory. Photograph the board with the cameras at the size the viewer runs them at (its --frame,\n"
    "1024x768 by default): the maps are written at the photos' size.\n"
    "Exit code 0 on success, 1 on any error (one line on standard error).\n";

bool ParseBoard(const std::string& text, cv::Size* board) {
  cv::Size size;
  if (!ParseSize(text, &size) || size.width < 2 || size.height < 2 || size.width > kMaxBoardSide ||
      size.height > kMaxBoardSide)
    return false;
  if (board) *board = size;
  return true;
}

bool IsPositive(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text.c_str(), &end);
  return errno == 0 && *end == '\0' && std::isfinite(parsed) && parsed > 0.0;
}

// The usage text keeps the layout users know (and the man page is made from): each command with its
// options, brackets around those it can do without, and what it does.
class Formatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const override {
    std::string text = "usage: " + name + " COMMAND [OPTIONS]\n" + app->get_description() + "\n\ncommands:\n";
    for (const CLI::App* command : app->get_subcommands(Listed<CLI::App>)) {
      std::string synopsis = command->get_name();
      for (const CLI::Option* option : command->get_options(Listed<CLI::Option>)) {
        const std::string word = option->get_name() + " " + option->get_option_text();
        synopsis += option->get_required() ? " " + word : " [" + word + "]";
      }
      text += Entry(synopsis, command->get_description());
    }
    return text + Entry("--help", "this text") + "\n" + app->get_footer();
  }

 private:
  template <typename T>
  static bool Listed(const T* item) {
    return !item->get_group().empty();
  }
  static std::string Entry(const std::string& name, const std::string& description) {
    std::string text = "  " + name + "\n";
    std::istringstream lines(description);
    for (std::string line; std::getline(lines, line);) text += "      " + line + "\n";
    return text;
  }
};

// Every command and option, declared once; the usage text and the one-line errors come from these
// declarations.
class Declarations {
 public:
  explicit Declarations(CommandLine* line)
      : app_("Makes the rectification maps mx1.xml, my1.xml (left camera) and mx2.xml, my2.xml (right camera).",
             "stereo-maps") {
    app_.formatter(std::make_shared<Formatter>());
    app_.set_help_flag();  // see Parse
    app_.footer(kNotes);
    app_.require_subcommand(1);
    // As before: a repeated option keeps its last value (the globs collect every value).
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    IdentityOptions& identity = line->identity;
    CLI::App* command = Command("identity", "write maps that leave the frames as they are (default 1024x768)");
    Value(command->add_option_function<std::string>(
              "--size", [&identity](const std::string& text) { ParseSize(text, &identity.size); }),
          "WxH", "WIDTHxHEIGHT", [](const std::string& text) { return ParseSize(text, nullptr); });
    Value(command->add_option("--out", identity.outDir), "DIR");

    CalibrateOptions& calibrate = line->calibrate;
    constexpr auto TakeAll = CLI::MultiOptionPolicy::TakeAll;
    command = Command("calibrate",
                      "find a chessboard of C x R inner corners in every left/right pair (matched in sorted\n"
                      "order), calibrate both cameras and the pair, and write the four maps at the images' size\n"
                      "plus calibration.yml; SIZE is the side of one square (its unit is the unit of T)");
    Required(Value(command->add_option("--left", calibrate.leftPatterns)->multi_option_policy(TakeAll), "GLOB"));
    Required(Value(command->add_option("--right", calibrate.rightPatterns)->multi_option_policy(TakeAll), "GLOB"));
    Required(Board(command, &calibrate.board), " (inner corners, for example 9x6)");
    Required(Value(command->add_option("--square", calibrate.squareSize), "SIZE", "a positive number", IsPositive),
             " (the side of one square)");
    Value(command->add_option("--out", calibrate.outDir), "DIR");
    Flips(command, &calibrate.flipLeft, &calibrate.flipRight);

    CheckOptions& check = line->check;
    command = Command("check",
                      "rectify one pair with the maps and write a side-by-side picture with horizontal guide\n"
                      "lines (default check.png); prints the vertical misalignment when the board is visible");
    Value(command->add_option("--maps", check.mapsDir), "DIR");
    Required(Value(command->add_option("--left", check.left), "IMAGE"));
    Required(Value(command->add_option("--right", check.right), "IMAGE"));
    Value(command->add_option("--out", check.outFile), "FILE");
    Board(command, &check.board);
    Flips(command, &check.flipLeft, &check.flipRight);
  }

  bool Parse(const std::vector<std::string>& args, CommandLine* line, std::string* error) {
    // As before: "help" or -h as the command, or --help anywhere, asks for the usage; "--" after the
    // command (the library would take it as the end of the options) is refused.
    if (!args.empty() && (args[0] == "help" || args[0] == "-h" || args[0] == "--help")) return Help(line);
    if (args.size() > 1 && std::find(args.begin() + 1, args.end(), "--") != args.end()) {
      *error = "unexpected argument '--' (see stereo-maps --help)";
      return false;
    }
    if (std::find(args.begin(), args.end(), "--help") != args.end()) return Help(line);
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // the library takes them last first
    try {
      app_.parse(reversed);
    } catch (const CLI::ParseError& e) {
      *error = OneLine(e, args);
      return false;
    }
    const std::string name = app_.get_subcommands().front()->get_name();
    line->command = name == "identity"    ? Command::kIdentity
                    : name == "calibrate" ? Command::kCalibrate
                                          : Command::kCheck;
    return true;
  }

  std::string Help() const { return app_.help(); }

 private:
  static bool Help(CommandLine* line) {
    line->command = Command::kHelp;
    return true;
  }

  CLI::App* Command(const std::string& name, const std::string& help) {
    return app_.add_subcommand(name, help)->group("commands");
  }

  // `valueName` shows in the usage; a value `valid` refuses is "--size '0x768' is not WIDTHxHEIGHT".
  CLI::Option* Value(CLI::Option* option, const std::string& valueName, const std::string& what = "",
                     bool (*valid)(const std::string&) = nullptr) {
    option->option_text(valueName);
    // The library takes the next word whatever it is; an option there means the value was left out.
    option->check(CLI::Validator(
        [this, name = option->get_name(), what, valid](const std::string& value) -> std::string {
          if (value.rfind("--", 0) == 0) return "missing";
          if (!valid || valid(value)) return {};
          refusal_ = name + " '" + value + "' is not " + what;
          return refusal_;
        },
        valueName));
    return option;
  }

  CLI::Option* Board(CLI::App* command, cv::Size* board) {
    return Value(command->add_option_function<std::string>(
                     "--board", [board](const std::string& text) { ParseBoard(text, board); }),
                 "CxR", "COLUMNSxROWS of inner corners, each 2 to 100",
                 [](const std::string& text) { return ParseBoard(text, nullptr); });
  }

  // --flip-left, --flip-right: the photos of that camera mirrored before use.
  void Flips(CLI::App* command, stereo::Mirror* left, stereo::Mirror* right) {
    for (auto [name, mirror] : {std::pair{"--flip-left", left}, std::pair{"--flip-right", right}})
      Value(command->add_option_function<std::string>(
                name, [mirror = mirror](const std::string& text) { stereo::ParseMirror(text, mirror); }),
            "h|v|hv", "h, v or hv", [](const std::string& text) {
              stereo::Mirror unused;
              return stereo::ParseMirror(text, &unused);
            });
  }

  void Required(CLI::Option* option, const std::string& hint = "") {
    option->required();
    hints_.emplace_back(option, hint);
  }

  // The library's messages name the option or word at fault; users read this tool's own wording.
  std::string OneLine(const CLI::ParseError& e, const std::vector<std::string>& args) const {
    std::string what = e.what();
    const std::vector<CLI::App*> given = app_.get_subcommands();
    const CLI::App* command = given.empty() ? nullptr : given.front();
    if (!refusal_.empty()) return refusal_;
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) || dynamic_cast<const CLI::ValidationError*>(&e))
      return what.substr(0, what.find(':')) + " needs a value";
    if (dynamic_cast<const CLI::RequiredError*>(&e) && command) {
      for (const CLI::Option* option : command->get_options())
        for (const auto& [required, hint] : hints_)
          if (required == option && option->count() == 0)
            return command->get_name() + " needs " + option->get_name() + " " + option->get_option_text() + hint;
    }
    const std::vector<std::string> extras = app_.remaining(true);
    if (!command) {
      if (extras.empty()) return "no command given (see stereo-maps --help)";
      return "unknown command '" + extras.front() + "' (see stereo-maps --help)";
    }
    if (extras.empty()) return what;
    const std::string& word = extras.front();
    if (word.rfind("--", 0) == 0)
      return "unknown option " + word.substr(0, word.find('=')) + " for " + command->get_name() +
             " (see stereo-maps --help)";
    // A word the shell split off a glob, or one too many: name the option it follows.
    std::string after;
    for (auto arg = args.begin() + 1; arg != args.end() && *arg != word; ++arg)
      if (arg->rfind("--", 0) == 0) after = arg->substr(0, arg->find('='));
    if (after.empty()) return "unexpected argument '" + word + "' (see stereo-maps --help)";
    return "unexpected argument '" + word + "' after " + after + " (quote a glob so the shell leaves it alone)";
  }

  CLI::App app_;
  std::vector<std::pair<const CLI::Option*, std::string>> hints_;  // required options, in declaration order
  std::string refusal_;
};

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
  if (size) *size = cv::Size(w, h);
  return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* line, std::string* error) {
  return Declarations(line).Parse(args, line, error);
}

std::string UsageText() {
  CommandLine unused;
  return Declarations(&unused).Help();
}

}  // namespace stereo_maps
