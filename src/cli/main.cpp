#include <unistd.h>

#include <cstdio>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
  using namespace razere::cli;
  CLI::App app{"razere-cli: merges two game-server installations into one", "razere-cli"};
  app.require_subcommand(1);
  CommandRunner merge = AddMergeCommand(app);
  CommandRunner encodeSetupValue = AddEncodeSetupValueCommand(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  }
  if (app.got_subcommand("encode-setup-value")) return encodeSetupValue();
  return merge();
}
