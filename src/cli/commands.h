// The commands of razere-cli, registered in one table: each row names a
// command, says what it does for the help text, and names the function (in
// the command's own file) that adds its options and returns how it runs.
// Adding a command is its file and one row here.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <span>

namespace razere::cli {

// Exit statuses of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;     // ended with an expected failure (a message)
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnexpected = 3;  // an unexpected error ended the run

// Runs a command after parsing and gives its exit status.
using CommandRunner = std::function<int()>;
// Adds a command's options to its subcommand; the runner reads them.
using CommandOptions = CommandRunner (*)(CLI::App& command);

struct Command {
  const char* name;
  const char* description;
  CommandOptions options;
};

// The table: X(function, name, description), one row per command, in the
// order of the help text.
#define RAZERE_CLI_COMMANDS(X)                                                                  \
  X(MergeCommand, "merge", "把从库合并进主库的数据，在保存目录中写出新的一套数据")                       \
  X(VerifyCommand, "verify", "检查合并后的数据（保存目录或服务器根目录）")                               \
  X(RestoreCommand, "restore", "撤销主库最近一次的合并（替换主库时留下的备份换回原处）")                   \
  X(HistoryCommand, "history", "列出主库合并过的从库，以及哪一次可以用 restore 还原")                     \
  X(EncodeSetupValueCommand, "encode-setup-value", "把 TEXT 编码为 !Setup.txt 中网络服务项的值并输出")

#define RAZERE_CLI_DECLARE_COMMAND(function, name, description) CommandRunner function(CLI::App& command);
RAZERE_CLI_COMMANDS(RAZERE_CLI_DECLARE_COMMAND)
#undef RAZERE_CLI_DECLARE_COMMAND

// Every command of the table.
std::span<const Command> Commands();

// Parses the command line against the table and runs the one command named:
// no command, an unknown one or bad options are usage errors (kExitUsage);
// --help prints the help text and --version the build, both giving kExitOk.
int RunCommandLine(int argc, char** argv);

}  // namespace razere::cli
