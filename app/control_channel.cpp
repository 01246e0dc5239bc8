#include "app/control_channel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <system_error>

namespace app {

namespace {

constexpr std::size_t kLongestLine = 4096;

constexpr const char* kUsage = "swap, nudge +N|-N|N, lock, unlock, overlay [on|off], snapshot [PATH], quit";

std::string Reason() { return std::error_code(errno, std::generic_category()).message(); }

// A whole decimal number within the nudge's range; `sign` tells whether it had one.
bool ParseNudge(const std::string& text, int* value, bool* sign) {
  if (text.empty()) return false;
  *sign = text[0] == '+' || text[0] == '-';
  const std::string digits = text.substr(*sign ? 1 : 0);
  if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::atoi(digits.c_str()) * (text[0] == '-' ? -1 : 1);
  return true;
}

}  // namespace

const char* const kKeysHelp =
    "  Escape  end           s  swap eyes            + / -  nudge convergence by 2 pixels\n"
    "  0       clear nudge   l  lock / unlock        o      overlay on / off\n"
    "  p       snapshot of what is shown (PNG named with the time, in the working directory)\n";

bool CommandOfKey(std::intptr_t key, OperatorCommand* command) {
  using Kind = OperatorCommand::Kind;
  switch (key) {
    case 's': *command = {Kind::Swap}; return true;
    case '+': *command = {Kind::Nudge, kNudgeStep}; return true;
    case '-': *command = {Kind::Nudge, -kNudgeStep}; return true;
    case '0': *command = {Kind::SetNudge, 0}; return true;
    case 'l': *command = {Kind::ToggleLock}; return true;
    case 'o': *command = {Kind::Overlay, -1}; return true;
    case 'p': *command = {Kind::Snapshot}; return true;
    default: return false;
  }
}

bool ParseCommand(const std::string& line, OperatorCommand* command, std::string* error) {
  using Kind = OperatorCommand::Kind;
  std::istringstream words(line);
  std::string verb, argument, extra;
  words >> verb >> argument;
  std::getline(words >> std::ws, extra);
  const auto fail = [&](const std::string& why) {
    *error = why;
    return false;
  };
  const bool one = argument.empty();
  if (verb == "swap" && one) {
    *command = {Kind::Swap};
  } else if (verb == "lock" && one) {
    *command = {Kind::Lock};
  } else if (verb == "unlock" && one) {
    *command = {Kind::Unlock};
  } else if (verb == "quit" && one) {
    *command = {Kind::Quit};
  } else if (verb == "overlay" && extra.empty() && (one || argument == "on" || argument == "off")) {
    *command = {Kind::Overlay, one ? -1 : argument == "on" ? 1 : 0};
  } else if (verb == "nudge" && extra.empty()) {
    int value = 0;
    bool sign = false;
    if (!ParseNudge(argument, &value, &sign))
      return fail("nudge needs +N, -N (pixels added) or N (the nudge), not '" + argument + "'");
    *command = {sign ? Kind::Nudge : Kind::SetNudge, value};
  } else if (verb == "snapshot") {
    // The rest of the line is the path, spaces and all.
    const std::size_t at = line.find("snapshot") + 8;
    const std::size_t start = line.find_first_not_of(" \t", at);
    *command = {Kind::Snapshot, 0, start == std::string::npos ? "" : line.substr(start)};
  } else {
    return fail("unknown command '" + line + "' (commands: " + kUsage + ")");
  }
  return true;
}

ControlChannel::~ControlChannel() {
  if (fd_ >= 0) close(fd_);
  if (made_) unlink(path_.c_str());
}

bool ControlChannel::Open(const std::string& path, std::string* error) {
  path_ = path;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT || mkfifo(path.c_str(), 0600) != 0) {
      *error = "--control: cannot make the named pipe " + path + ": " + Reason();
      return false;
    }
    made_ = true;
  } else if (!S_ISFIFO(info.st_mode)) {
    *error = "--control: " + path + " is not a named pipe";
    return false;
  }
  // Without waiting for a writer; reads then never wait either.
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    *error = "--control: cannot open " + path + ": " + Reason();
    return false;
  }
  return true;
}

std::vector<OperatorCommand> ControlChannel::Poll() {
  std::vector<OperatorCommand> commands;
  if (fd_ < 0) return commands;
  char buffer[1024];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;  // nothing more now (or no writer at present)
    for (ssize_t i = 0; i < got; ++i) {
      const char c = buffer[i];
      if (c != '\n') {
        if (partial_.size() < kLongestLine) {
          partial_ += c;
        } else {
          overlong_ = true;
        }
        continue;
      }
      std::string line = overlong_ ? std::string() : partial_;
      const bool tooLong = overlong_;
      partial_.clear();
      overlong_ = false;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (tooLong) {
        std::fprintf(stderr, "stereo-viewer: control: line longer than %zu bytes ignored\n", kLongestLine);
        continue;
      }
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      OperatorCommand command;
      std::string error;
      if (ParseCommand(line, &command, &error)) {
        commands.push_back(command);
      } else {
        std::fprintf(stderr, "stereo-viewer: control: %s\n", error.c_str());
      }
    }
  }
  return commands;
}

}  // namespace app
