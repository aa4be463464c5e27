#include "cli/commands.h"

int main(int argc, char** argv) { return razere::cli::RunCommandLine(argc, argv); }
