// razere-cli verify PATH...: the checks of a merged data set on save folders
// and installations, one line per problem on standard output.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/data_set_check.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "support/errors.h"
#include "support/file_system.h"

namespace razere::cli {

namespace {

struct VerifyOptions {
  std::vector<std::string> paths;
};

int RunVerify(const VerifyOptions& o) {
  for (const std::string& path : o.paths) {
    if (Fs().KindOf(PathFromText(path)) != FileKind::Folder) {
      PrintText(stderr, "verify：不是目录：" + path + "\n");
      return kExitUsage;
    }
  }
  const bool terminal = isatty(STDERR_FILENO) != 0;
  size_t problems = 0;
  try {
    for (const std::string& path : o.paths) {
      DataSetCheckOptions options;
      if (terminal) {
        // A line that rewrites itself, at most once a percent.
        options.progress = [last = -1](uint64_t done, uint64_t total) mutable {
          const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
          if (percent == last) return;
          last = percent;
          std::fprintf(stderr, "\r%3d%%", percent);
        };
      }
      const DataSetCheckResult result = CheckDataSet(DataSetFilesOf(path), options);
      if (terminal) std::fprintf(stderr, "\r    \r");
      for (const DataSetProblem& p : result.problems) PrintText(stdout, p.text + "\n");
      problems += result.problems.size();
    }
  } catch (const std::exception& e) {
    std::fflush(stdout);
    PrintText(stderr, std::string(e.what()) + "\n");
    return kExitUnexpected;
  }
  if (problems == 0) {
    PrintText(stdout, "没有发现问题\n");
  } else {
    PrintText(stdout, "发现 " + std::to_string(problems) + " 个问题\n");
  }
  if (std::fflush(stdout) != 0) return kExitUnexpected;
  return problems == 0 ? kExitOk : kExitRefused;
}

}  // namespace

CommandRunner VerifyCommand(CLI::App& command) {
  auto o = std::make_shared<VerifyOptions>();
  command.add_option("PATH", o->paths, "保存目录或服务器根目录")->type_name("DIR")->required();
  return [o] { return RunVerify(*o); };
}

}  // namespace razere::cli
