// What an operator asks while the viewer runs, by key or as a line of text on a named pipe
// (--control FIFO), for scripts and remote operation.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace app {

struct OperatorCommand {
  enum class Kind { Swap, Nudge, SetNudge, Lock, Unlock, ToggleLock, Overlay, Snapshot, Quit };
  OperatorCommand(Kind what = Kind::Quit, int number = 0, std::string file = {})
      : kind(what), value(number), path(std::move(file)) {}

  Kind kind;
  // Nudge: pixels added to the nudge; SetNudge: the nudge; Overlay: 1 shows, 0 hides, -1 toggles.
  int value;
  // Snapshot: the file; empty: a name with the time, in the working directory.
  std::string path;
};

// The pixels one key press of + or - nudges by.
inline constexpr int kNudgeStep = 2;

// The help's list of keys, one per line.
extern const char* const kKeysHelp;

// The command of a key (as the window procedure receives it); false for keys that have none.
bool CommandOfKey(std::intptr_t key, OperatorCommand* command);

// One line of the control pipe: swap, nudge +N / -N (added) or N (set), lock, unlock, overlay on / off
// (alone: toggles), snapshot [PATH], quit. False with a one-line `error` for anything else.
bool ParseCommand(const std::string& line, OperatorCommand* command, std::string* error);

// The reading end of the control pipe. Never waits: each Poll takes what writers have sent so far.
class ControlChannel {
 public:
  ControlChannel() = default;
  ~ControlChannel();
  ControlChannel(const ControlChannel&) = delete;
  ControlChannel& operator=(const ControlChannel&) = delete;

  // Opens the named pipe at `path`, making it when there is nothing there; false with a one-line
  // `error` when the path holds something else or cannot be opened.
  bool Open(const std::string& path, std::string* error);
  // The commands of the lines completed since the last call; each bad line is reported with one line
  // on standard error and skipped.
  std::vector<OperatorCommand> Poll();

 private:
  int fd_ = -1;
  std::string path_;
  bool made_ = false;      // the pipe was made here, and goes with the channel
  std::string partial_;    // the start of a line whose end has not arrived
  bool overlong_ = false;  // the line being read is too long; skipped up to its end
};

}  // namespace app
