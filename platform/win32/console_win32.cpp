#include <windows.h>

#include "platform/console.h"

namespace qz381::platform {

// A console answers GetConsoleMode; a pipe or a file does not.
bool StdinIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace qz381::platform
