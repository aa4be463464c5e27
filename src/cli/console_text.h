// What the command line prints: UTF-8 text in memory, written so that it
// reads correctly where it lands.
#pragma once

#include <cstdio>
#include <string_view>

namespace razere::cli {

// Writes text to stream (stdout or stderr). POSIX: the bytes unchanged.
// Windows: to a console as UTF-16 through WriteConsoleW, whatever the
// console's code page; to a file or pipe as GBK, the servers' code page,
// which cmd.exe's type and the scripts that capture it read.
void PrintText(std::FILE* stream, std::string_view text);

// Windows: lets the console interpret the escape that clears the status
// line. Nothing elsewhere.
void PrepareConsole();

}  // namespace razere::cli
