#include "platform/StandardStreams.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace qrt::cli::platform {

void PrepareStandardStreams() {
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

bool StandardErrorIsTerminal() {
  return ::_isatty(::_fileno(stderr)) != 0;
}

bool StandardOutputTakesColour() {
  // A console shows the sequences once virtual-terminal processing is on
  // (Windows 10 and later); a pipe or file takes none.
  const HANDLE hOut = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD dwMode = 0;
  if (hOut == INVALID_HANDLE_VALUE || !::GetConsoleMode(hOut, &dwMode)) return false;
  return (dwMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(hOut, dwMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace qrt::cli::platform
