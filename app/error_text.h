// Process-wide state of the shell: the activation flag and the one error-text channel.
#pragma once

#include <cstddef>

namespace app {

// Holds the longest message (all are short Czech sentences in UTF-8) with its terminator.
inline constexpr std::size_t kErrorTextSize = 128;

// Non-zero while the application is active; the main loop runs frame steps only then.
extern int AppActive;

// "OK" until a failure writes its whole message; the last writer wins.
extern char ErrorText[kErrorTextSize];

// Replaces the whole content of ErrorText; a message too long is cut, never overrun.
void SetErrorText(const char* message);

bool ErrorTextIsOk();

// Back to the state at program load (tests run several viewers in one process).
void ResetShellState();

}  // namespace app
