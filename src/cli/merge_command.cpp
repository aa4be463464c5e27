// razere-cli merge: one run exactly as the window's start button.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "app/run_driver.h"
#include "app/run_report.h"
#include "app/settings.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "support/file_system.h"
#include "support/process_stats.h"
#include "support/text_util.h"

namespace fs = std::filesystem;

namespace razere::cli {

namespace {

struct MergeOptions {
  std::string config, pairs, master, slave, save;
  std::optional<bool> clean, replace, backup, gmm;
  std::string minDay, minLevel;
  CLI::Option* minDayOption = nullptr;
  CLI::Option* minLevelOption = nullptr;
  bool quiet = false;
  bool noSpaceCheck = false;
  std::string statsFile;
  bool dryRun = false;
  std::string reportFile;
};

// The run's cost for benchmarks, written when the command ends however it
// ends; a file that cannot be written is only reported.
void WriteStats(const std::string& file) {
  if (file.empty()) return;
  try {
    WriteFileAtomic(PathFromText(file), FormatProcessStats(CurrentProcessStats()));
  } catch (const std::exception& e) {
    PrintText(stderr, "--stats: " + std::string(e.what()) + "\n");
  }
}

std::string ExecutableFolder() {
  const fs::path program = ProgramFolder();
  return TextOfPath(program.empty() ? fs::current_path() : program);
}

void AddSwitch(CLI::App* cmd, const std::string& name, std::optional<bool>& target, const std::string& help) {
  cmd->add_flag_callback("--" + name, [&target] { target = true; }, help);
  cmd->add_flag_callback("--no-" + name, [&target] { target = false; });
}

// A report that cannot be written fails the command: a script reads it.
bool WriteReport(const std::string& file, const RunReport& report) {
  if (file.empty()) return true;
  try {
    WriteRunReport(file, report);
    return true;
  } catch (const std::exception& e) {
    PrintText(stderr, "--report: " + std::string(e.what()) + "\n");
    return false;
  }
}

int RunMerge(MergeOptions& o) {
  std::optional<int32_t> minDay, minLevel;
  if (o.minDayOption->count() > 0 && !(minDay = ParseDecimal(o.minDay, DecimalSign::kPlusThenAny))) {
    PrintText(stderr, "--min-day: not a decimal integer: " + o.minDay + "\n");
    return kExitUsage;
  }
  if (o.minLevelOption->count() > 0 && !(minLevel = ParseDecimal(o.minLevel, DecimalSign::kPlusThenAny))) {
    PrintText(stderr, "--min-level: not a decimal integer: " + o.minLevel + "\n");
    return kExitUsage;
  }

  std::string programFolder =
      o.config.empty() ? ExecutableFolder() : TextOfPath(fs::absolute(PathFromText(o.config)).parent_path());
  bool terminal = isatty(STDERR_FILENO) != 0;
  CliHost host(o.quiet, terminal);
  CliHost::InstallSignalHandlers();

  RunContext ctx;
  ctx.Bar.SetHost(host);
  RunReport report;
  try {
    // Start-up as the window's, then the options act like edits of its controls.
    WindowState w = StartUp(ctx, programFolder, o.config, o.pairs);
    if (!o.master.empty()) RootEditChanged(ctx.Master, w.Master, o.master);
    if (!o.slave.empty()) RootEditChanged(ctx.Slave, w.Slave, o.slave);
    if (!o.save.empty()) w.SavePath = o.save;
    if (o.clean) w.Clear1 = *o.clean;
    if (o.replace) w.AutoSaveDBMasterServer = *o.replace;
    if (o.backup) w.BackDB = *o.backup;
    if (o.gmm) w.Gmm = *o.gmm;
    if (minDay) w.ClearMinDay = std::to_string(*minDay);
    if (minLevel) w.ClearMinLevel = std::to_string(*minLevel);
    w.CheckFreeSpace = !o.noSpaceCheck;
    w.DryRun = o.dryRun;

    int status = kExitUnexpected;
    try {
      const RunOutcome outcome = ButtonOKClick(ctx, w, BuiltStages(), o.reportFile.empty() ? nullptr : &report);
      host.Finish();
      status = outcome == RunOutcome::Completed ? kExitOk : kExitRefused;
    } catch (const std::exception& e) {
      host.Finish();
      PrintText(stderr, std::string(e.what()) + "\n");
    }
    WriteStats(o.statsFile);
    return WriteReport(o.reportFile, report) ? status : kExitUnexpected;
  } catch (const std::exception& e) {
    host.Finish();
    PrintText(stderr, std::string(e.what()) + "\n");
    WriteStats(o.statsFile);
    report.error = e.what();
    WriteReport(o.reportFile, report);
    return kExitUnexpected;
  }
}

}  // namespace

CommandRunner MergeCommand(CLI::App& command) {
  auto o = std::make_shared<MergeOptions>();
  CLI::App* cmd = &command;
  cmd->add_option("--config", o->config, "Settings file; its folder is the program folder");
  cmd->add_option("--pairs", o->pairs, "Text-file pair list (default: TextFileName.txt of the program folder)");
  cmd->add_option("--master", o->master, "Master server root; derives the master's paths");
  cmd->add_option("--slave", o->slave, "Slave server root; derives the slave's paths");
  cmd->add_option("--save", o->save, "Save folder");
  AddSwitch(cmd, "clean", o->clean, "Drop inactive low-level characters");
  o->minDayOption = cmd->add_option("--min-day", o->minDay, "Clean-up bound: days without login");
  o->minLevelOption = cmd->add_option("--min-level", o->minLevel, "Clean-up bound: character level");
  AddSwitch(cmd, "replace", o->replace, "Replace the master's files with the new ones");
  AddSwitch(cmd, "backup", o->backup, "Keep the master's old files as .bak when replacing");
  AddSwitch(cmd, "gmm", o->gmm, "Merge consignment-sale data through the web service");
  cmd->add_flag("--quiet", o->quiet, "No status line");
  cmd->add_flag("--no-space-check", o->noSpaceCheck,
                "Skip the free-space check before writing (for file systems whose free space says little)");
  cmd->add_flag("--dry-run", o->dryRun,
                "Run every check and stage, writing and removing nothing (not the save folder, the master or Config.ini)");
  cmd->add_option("--report", o->reportFile,
                  "Write what the run did (or, with --dry-run, would do) to FILE as JSON: counts, removals, renames, "
                  "serials, files, times");
  cmd->add_option("--stats", o->statsFile,
                  "At exit, write the run's bytes read and written, CPU seconds and peak memory to FILE (benchmarks)");
  return [o] { return RunMerge(*o); };
}

}  // namespace razere::cli
