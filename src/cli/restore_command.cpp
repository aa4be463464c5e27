// razere-cli restore and razere-cli history: the master's merges, and the
// undo of the last one from the record its replacement left.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "app/restore.h"
#include "app/settings.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "support/file_system.h"

namespace fs = std::filesystem;

namespace razere::cli {

namespace {

struct MasterOptions {
  std::string config, master;
  bool force = false;
};

// The master's paths as a merge with these options would use them: the
// settings file's, or those derived from --master.
ServerPaths MasterPaths(const MasterOptions& o) {
  const fs::path program = ProgramFolder();
  const std::string programFolder =
      !o.config.empty() ? TextOfPath(fs::absolute(PathFromText(o.config)).parent_path())
                        : TextOfPath(program.empty() ? fs::current_path() : program);
  RunContext ctx;
  WindowState w = StartUp(ctx, programFolder, o.config);
  if (!o.master.empty()) RootEditChanged(ctx.Master, w.Master, o.master);
  ReadPaths(ctx.Master, w.Master);
  BuildUneditedPaths(ctx.Master);
  return ctx.Master;
}

void AddMasterOptions(CLI::App& command, MasterOptions& o) {
  command.add_option("--config", o.config, "设置文件（默认：程序目录中的 Config.ini），主库路径从中读取")
      ->type_name("FILE");
  command.add_option("--master", o.master, "主库服务器根目录；主库的各个路径由它得出")->type_name("ROOT");
}

int RunRestore(const MasterOptions& o) {
  try {
    const RestoreResult r = RestoreLastReplacement(MasterPaths(o), o.force);
    if (r.copiesOnly) {
      PrintText(stdout, r.time + " 的合并在替换主库之前中断，主库没有改动：已删除它留下的副本\n");
      return std::fflush(stdout) == 0 ? kExitOk : kExitUnexpected;
    }
    if (!r.changed.empty()) {
      std::string text = "合并之后被改动过的文件（已强制还原）：\n";
      for (const std::string& c : r.changed) text += "  " + c + "\n";
      PrintText(stdout, text);
    }
    if (!r.kept.empty()) {
      std::string text = "合并后的文件保留为：\n";
      for (const std::string& k : r.kept) text += "  " + k + "\n";
      PrintText(stdout, text);
    }
    PrintText(stdout, "已还原 " + r.time + " 的合并：主库恢复为合并之前的文件\n");
    return std::fflush(stdout) == 0 ? kExitOk : kExitUnexpected;
  } catch (const RestoreRefused& e) {
    PrintText(stderr, std::string(e.what()) + "\n");
    return kExitRefused;
  } catch (const std::exception& e) {
    PrintText(stderr, std::string(e.what()) + "\n还原没有完成；排除问题后再次运行 restore 即可继续。\n");
    return kExitUnexpected;
  }
}

int RunHistory(const MasterOptions& o) {
  try {
    const MergeList list = ListMerges(MasterPaths(o));
    std::string text;
    for (const MergeEntry& m : list.merges) {
      if (m.time.empty()) {
        text += m.line + "\n";
        continue;
      }
      text += m.time + "  " + m.slave;
      for (const std::string& f : m.files) text += "  " + f;
      if (m.restorable) text += "  （可用 restore 还原）";
      text += "\n";
    }
    if (!list.notRestorable.empty()) text += list.notRestorable + "\n";
    PrintText(stdout, text);
    return std::fflush(stdout) == 0 ? kExitOk : kExitUnexpected;
  } catch (const std::exception& e) {
    PrintText(stderr, std::string(e.what()) + "\n");
    return kExitUnexpected;
  }
}

}  // namespace

CommandRunner RestoreCommand(CLI::App& command) {
  auto o = std::make_shared<MasterOptions>();
  AddMasterOptions(command, *o);
  command.add_flag("--force", o->force,
                   "合并后主库的文件已被改动时也还原；合并后的文件保留为 <文件名>.razere-undone");
  return [o] { return RunRestore(*o); };
}

CommandRunner HistoryCommand(CLI::App& command) {
  auto o = std::make_shared<MasterOptions>();
  AddMasterOptions(command, *o);
  return [o] { return RunHistory(*o); };
}

}  // namespace razere::cli
