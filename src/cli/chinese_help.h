// What CLI11 prints of its own, in Chinese: the help's labels, the help and
// version flags' descriptions and the usage errors. razere-cli and razere-gen
// share it. Option names, placeholders (TEXT, INT, FILE...) and file names
// stay as they are: scripts and the README use them.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace razere::cli {

// Call on a program's App before adding any option or subcommand: a
// subcommand copies the help flag, the group it is listed under, the
// formatter (with its labels) and the failure message from its parent when
// it is added. Adds --version to app, printing VersionLine(app's name).
void UseChineseHelp(CLI::App& app);

// A usage error of CLI11 in Chinese, without the hint to the help: one line
// naming the option or argument as the user typed it. Unknown kinds keep
// CLI11's text after a Chinese lead, so that nothing is lost.
std::string ChineseUsageError(const CLI::App& app, const CLI::Error& e);

// After app.parse threw: prints help or the version on standard output, or
// the usage error and where to find help on standard error, through
// PrintText, and gives CLI11's exit status (0 for help and version).
int PrintParseError(const CLI::App& app, const CLI::ParseError& e);

}  // namespace razere::cli
