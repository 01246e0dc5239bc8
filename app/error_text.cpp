#include "app/error_text.h"

#include <cstring>

namespace app {

int AppActive = 1;
char ErrorText[kErrorTextSize] = "OK";

void SetErrorText(const char* message) {
  std::strncpy(ErrorText, message, kErrorTextSize - 1);
  ErrorText[kErrorTextSize - 1] = '\0';
}

bool ErrorTextIsOk() { return std::strcmp(ErrorText, "OK") == 0; }

void ResetShellState() {
  AppActive = 1;
  SetErrorText("OK");
}

}  // namespace app
