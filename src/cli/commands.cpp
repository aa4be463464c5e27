#include "cli/commands.h"

#include <vector>

#include "cli/chinese_help.h"

namespace razere::cli {

std::span<const Command> Commands() {
#define RAZERE_CLI_COMMAND_ROW(function, name, description) Command{name, description, function},
  static const Command table[] = {RAZERE_CLI_COMMANDS(RAZERE_CLI_COMMAND_ROW)};
#undef RAZERE_CLI_COMMAND_ROW
  return table;
}

int RunCommandLine(int argc, char** argv) {
  CLI::App app{"razere-cli：把两套游戏服务器的数据合并为一套（合区）", "razere-cli"};
  UseChineseHelp(app);
  app.require_subcommand(1);
  struct Registered {
    CLI::App* command;
    CommandRunner run;
  };
  std::vector<Registered> registered;
  for (const Command& c : Commands()) {
    CLI::App* command = app.add_subcommand(c.name, c.description);
    registered.push_back({command, c.options(*command)});
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return PrintParseError(app, e) == 0 ? kExitOk : kExitUsage;
  }
  for (const Registered& r : registered) {
    if (r.command->parsed()) return r.run();
  }
  return kExitUsage;  // not reached: exactly one command is required
}

}  // namespace razere::cli
