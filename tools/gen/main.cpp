// razere-gen: writes sample server installations.
//
//   razere-gen pair   --out DIR [sizes]   DIR/master/, DIR/slave/, DIR/save/, DIR/program/Config.ini
//   razere-gen server --out DIR [--side master|slave] [sizes]
//
// Exit status: 0 written, 1 failed (I/O, a non-empty --out without --force),
// 2 usage error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/chinese_help.h"
#include "cli/console_text.h"
#include "gen/generator.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/file_system.h"

namespace fs = std::filesystem;
using namespace razere::gen;
using razere::cli::PrintText;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Cli {
  GenOptions o;
  std::string out;
  std::string now;
  std::string side = "master";
  bool force = false;
};

void AddSizeOptions(CLI::App* cmd, Cli& c) {
  cmd->add_option("--out", c.out, "写入的目录（会被创建；不加 --force 时必须为空）")->type_name("DIR")->required();
  cmd->add_option("--seed", c.o.seed, "随机种子；相同的选项（及 --now）写出相同的字节")->capture_default_str();
  cmd->add_option("--accounts", c.o.accounts, "每套服务器的有效帐号数")->capture_default_str();
  cmd->add_option("--chars", c.o.chars, "每套服务器的有效人物数（Qel.DB 记录）")->capture_default_str();
  cmd->add_option("--heroes", c.o.heroes, "每套服务器的有效英雄数（HeroQel.DB 记录）")->capture_default_str();
  cmd->add_option("--items-per-char", c.o.itemsPerChar, "每个人物平均占用的物品格数（0 到 497）")
      ->capture_default_str();
  cmd->add_option("--collision-rate", c.o.collisionRate,
                  "从库名称（帐号、人物、英雄）中主库也有的比例（0 到 1）")
      ->capture_default_str();
  cmd->add_option("--now", c.now, "登录时间和文件日期的参考日期，YYYY-MM-DD（默认：今天）")->type_name("DATE");
  cmd->add_option("--sparse-qel-gib", c.o.sparseQelGib,
                  "主库 Qel.DB：把最后 3 个有效人物放到 N GiB 之后，之前留空洞（0 为不用）")
      ->type_name("N")
      ->capture_default_str();
  cmd->add_option("--guilds", c.o.guilds, "每套服务器的行会数（GuildBase/）")->capture_default_str();
  cmd->add_option("--shops", c.o.shops, "每套服务器的摊位数（Shop.dat 记录）")->capture_default_str();
  cmd->add_option("--shop-items", c.o.shopItems, "每套服务器在售的物品数（ShopItem.dat 记录）")
      ->capture_default_str();
  cmd->add_option("--mails", c.o.mails, "每套服务器的邮件格数（Email.db）")->capture_default_str();
  cmd->add_flag("--force", c.force, "写入非空的目录（同名文件被替换）");
}

std::optional<double> ParseDate(const std::string& text) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return std::nullopt;
  if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
  double dt = razere::EncodeDateTime(y, m, d);
  auto parts = razere::DecodeDateTime(dt);
  if (!parts || parts->year != y || parts->month != m || parts->day != d) return std::nullopt;  // 2023-02-30
  return dt;
}

std::string Size(uint64_t bytes) {
  char buf[32];
  if (bytes >= (1ULL << 30)) std::snprintf(buf, sizeof buf, "%.2f GiB", static_cast<double>(bytes) / (1ULL << 30));
  else std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(bytes) / (1ULL << 20));
  return buf;
}

std::string Describe(const ServerStats& s) {
  return std::to_string(s.accounts) + " 个帐号、" + std::to_string(s.chars) + " 个人物、" + std::to_string(s.heroes) +
         " 个英雄、" + std::to_string(s.items) + " 件物品、" + std::to_string(s.shopRecords) + " 个摊位、" +
         std::to_string(s.shopItemRecords) + " 件摊位物品、" + std::to_string(s.guilds) + " 个行会、" +
         std::to_string(s.mailRecords) + " 封邮件，共 " + Size(s.bytes) + (s.sparseOffsets.empty() ? "" : "（稀疏文件）");
}

bool NonEmptyFolder(const fs::path& p) {
  using namespace razere;
  switch (Fs().KindOf(p)) {
    case FileKind::None: return false;
    case FileKind::Folder: break;
    default: return true;
  }
  try {
    return !Fs().List(p).empty();
  } catch (const FileError&) {
    return false;  // writing into it reports why
  }
}

int Run(int argc, char** argv) {
  CLI::App app{"razere-gen：写出示例服务器数据（由种子决定，可重现）", "razere-gen"};
  razere::cli::UseChineseHelp(app);
  app.require_subcommand(1);
  Cli c;
  CLI::App* pair = app.add_subcommand("pair", "写出一对服务器（主库和从库）、一个保存目录和一个 Config.ini");
  AddSizeOptions(pair, c);
  CLI::App* server = app.add_subcommand("server", "写出一套服务器");
  AddSizeOptions(server, c);
  server->add_option("--side", c.side, "写出一对中的哪一方（从库的部分名称与主库相同）")
      ->check(CLI::IsMember({"master", "slave"}))
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return razere::cli::PrintParseError(app, e) == 0 ? kExitOk : kExitUsage;
  }

  if (!c.now.empty()) {
    std::optional<double> now = ParseDate(c.now);
    if (!now) {
      PrintText(stderr, "razere-gen：--now 的值不是 YYYY-MM-DD 格式的日期：" + c.now + "\n");
      return kExitUsage;
    }
    c.o.now = *now;
  }
  try {
    ValidateOptions(c.o);
  } catch (const std::invalid_argument& e) {
    PrintText(stderr, "razere-gen：" + std::string(e.what()) + "\n");
    return kExitUsage;
  }
  if (!c.force && NonEmptyFolder(razere::PathFromText(c.out))) {
    PrintText(stderr, "razere-gen：" + c.out + " 不是空目录（要写入其中，请加 --force）\n");
    return kExitFailed;
  }

  try {
    if (pair->parsed()) {
      GeneratedPair p = GeneratePair(c.o, razere::PathFromText(c.out));
      PrintText(stdout, "razere-gen：已在 " + razere::TextOfPath(p.dir) + " 写出一对服务器：主库 " +
                            Describe(p.master.stats) + "；从库 " + Describe(p.slave.stats) + "；设置文件 " +
                            razere::TextOfPath(p.config) + "\n");
    } else {
      GenSide side = c.side == "slave" ? GenSide::Slave : GenSide::Master;
      GeneratedServer s = GenerateServer(c.o, razere::PathFromText(c.out), side);
      PrintText(stdout, "razere-gen：已在 " + razere::TextOfPath(s.root) + " 写出" +
                            (side == GenSide::Slave ? "从库" : "主库") + "：" + Describe(s.stats) + "\n");
    }
  } catch (const std::exception& e) {
    PrintText(stderr, "razere-gen：" + std::string(e.what()) + "\n");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

// Wide arguments (folder names in Chinese), handed on as UTF-8.
int wmain(int argc, wchar_t** wargv) {
  razere::Utf8Arguments args(argc, wargv);
  // Redirected output keeps its bytes (no CR before each LF), as on Linux.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  return Run(argc, args.argv());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
