// Runs razere-cli (or razere-gen) as a child process and collects what it printed.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace razere::testing {

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

inline std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// tool: "razere-cli" or "razere-gen", found in the build's bin folder.
inline CliResult RunTool(const std::string& tool, const std::vector<std::string>& args) {
  namespace fs = std::filesystem;
  static int counter = 0;
  fs::path base = fs::temp_directory_path() / ("razere-cli-" + std::to_string(::getpid()) + "-" +
                                                std::to_string(++counter));
  std::string cmd = ShellQuote(std::string(RAZERE_BIN_DIR) + "/" + tool);
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  cmd += " >" + ShellQuote(base.string() + ".out") + " 2>" + ShellQuote(base.string() + ".err") + " </dev/null";
  int status = std::system(cmd.c_str());
  CliResult r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(base.string() + ".out");
  r.err = Slurp(base.string() + ".err");
  fs::remove(base.string() + ".out");
  fs::remove(base.string() + ".err");
  return r;
}

inline CliResult RunCli(const std::vector<std::string>& args) { return RunTool("razere-cli", args); }

}  // namespace razere::testing
