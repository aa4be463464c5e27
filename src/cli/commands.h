// The commands of razere-cli; each lives in a file of its own.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>

namespace razere::cli {

// Exit statuses of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;     // ended with an expected failure (a message)
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnexpected = 3;  // an unexpected error ended the run

// Adds a command's subcommand and options to app; the returned function runs
// it after parsing and gives its exit status.
using CommandRunner = std::function<int()>;
CommandRunner AddMergeCommand(CLI::App& app);
CommandRunner AddEncodeSetupValueCommand(CLI::App& app);

}  // namespace razere::cli
