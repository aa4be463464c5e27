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
    PrintText(stderr, "--stats：" + std::string(e.what()) + "\n");
  }
}

std::string ExecutableFolder() {
  const fs::path program = ProgramFolder();
  return TextOfPath(program.empty() ? fs::current_path() : program);
}

// --name and --no-name; with neither, the value stored in the settings file holds.
void AddSwitch(CLI::App* cmd, const std::string& name, std::optional<bool>& target, const std::string& on,
               const std::string& off) {
  cmd->add_flag_callback("--" + name, [&target] { target = true; }, on);
  cmd->add_flag_callback("--no-" + name, [&target] { target = false; }, off);
}

// A report that cannot be written fails the command: a script reads it.
bool WriteReport(const std::string& file, const RunReport& report) {
  if (file.empty()) return true;
  try {
    WriteRunReport(file, report);
    return true;
  } catch (const std::exception& e) {
    PrintText(stderr, "--report：" + std::string(e.what()) + "\n");
    return false;
  }
}

int RunMerge(MergeOptions& o) {
  std::optional<int32_t> minDay, minLevel;
  if (o.minDayOption->count() > 0 && !(minDay = ParseDecimal(o.minDay, DecimalSign::kPlusThenAny))) {
    PrintText(stderr, "--min-day 的值不是十进制整数：" + o.minDay + "\n");
    return kExitUsage;
  }
  if (o.minLevelOption->count() > 0 && !(minLevel = ParseDecimal(o.minLevel, DecimalSign::kPlusThenAny))) {
    PrintText(stderr, "--min-level 的值不是十进制整数：" + o.minLevel + "\n");
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
  cmd->add_option("--config", o->config, "设置文件；它所在的目录即程序目录")->type_name("FILE");
  cmd->add_option("--pairs", o->pairs, "文本文件对照表（默认：程序目录中的 TextFileName.txt）")->type_name("FILE");
  cmd->add_option("--master", o->master, "主库服务器根目录；主库的各个路径由它得出")->type_name("ROOT");
  cmd->add_option("--slave", o->slave, "从库服务器根目录；从库的各个路径由它得出")->type_name("ROOT");
  cmd->add_option("--save", o->save, "保存目录")->type_name("DIR");
  AddSwitch(cmd, "clean", o->clean, "清理长期未登录的低等级人物", "不清理人物");
  o->minDayOption = cmd->add_option("--min-day", o->minDay, "清理条件：未登录的天数")->type_name("N");
  o->minLevelOption = cmd->add_option("--min-level", o->minLevel, "清理条件：人物等级")->type_name("N");
  AddSwitch(cmd, "replace", o->replace, "用新数据替换主库的文件", "不替换主库的文件");
  AddSwitch(cmd, "backup", o->backup, "替换时把主库的旧文件保留为 .bak", "替换时不保留主库的旧文件");
  AddSwitch(cmd, "gmm", o->gmm, "通过网络服务合并寄售数据", "不合并寄售数据");
  cmd->add_flag("--quiet", o->quiet, "不显示状态行");
  cmd->add_flag("--no-space-check", o->noSpaceCheck, "写入前不检查磁盘剩余空间（用于剩余空间说明不了问题的文件系统）");
  cmd->add_flag("--dry-run", o->dryRun,
                "执行所有检查和步骤，但不写入也不删除任何文件（保存目录、主库和 Config.ini 都不变）");
  cmd->add_option("--report", o->reportFile,
                  "把本次运行做了（加 --dry-run 时：将要做）的事以 JSON 写入 FILE：数量、删除、改名、物品序号、文件、用时")
      ->type_name("FILE");
  cmd->add_option("--stats", o->statsFile,
                  "退出时把本次运行读写的字节数、CPU 秒数和内存峰值写入 FILE（用于基准测试）")
      ->type_name("FILE");
  return [o] { return RunMerge(*o); };
}

}  // namespace razere::cli
