#include "cli/commands.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/console_text.h"
#include "support/ansi.h"

// Wide arguments, so that folder names in Chinese reach the program whatever
// the console's code page; handed on as UTF-8, the run's text.
int wmain(int argc, wchar_t** wargv) {
  razere::Utf8Arguments args(argc, wargv);
  // Redirected output keeps its bytes (no CR before each LF), as on Linux.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  razere::cli::PrepareConsole();
  return razere::cli::RunCommandLine(argc, args.argv());
}
#else
int main(int argc, char** argv) { return razere::cli::RunCommandLine(argc, argv); }
#endif
