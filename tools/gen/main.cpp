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

#include "gen/generator.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/file_system.h"

namespace fs = std::filesystem;
using namespace razere::gen;

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
  cmd->add_option("--out", c.out, "Folder to write into (created; must be empty unless --force)")->required();
  cmd->add_option("--seed", c.o.seed, "Random seed; the same options (and --now) give the same bytes")->capture_default_str();
  cmd->add_option("--accounts", c.o.accounts, "Live accounts per installation")->capture_default_str();
  cmd->add_option("--chars", c.o.chars, "Live characters (Qel.DB records) per installation")->capture_default_str();
  cmd->add_option("--heroes", c.o.heroes, "Live heroes (HeroQel.DB records) per installation")->capture_default_str();
  cmd->add_option("--items-per-char", c.o.itemsPerChar, "Average occupied item slots per character (0..497)")
      ->capture_default_str();
  cmd->add_option("--collision-rate", c.o.collisionRate,
                  "Share of slave names (accounts, characters, heroes) also taken on the master (0..1)")
      ->capture_default_str();
  cmd->add_option("--now", c.now, "Reference date YYYY-MM-DD for login times and file dates (default: today)");
  cmd->add_option("--sparse-qel-gib", c.o.sparseQelGib,
                  "Master Qel.DB: put the last 3 live characters beyond N GiB, holes before them (0 = off)")
      ->capture_default_str();
  cmd->add_option("--guilds", c.o.guilds, "Guilds (GuildBase/) per installation")->capture_default_str();
  cmd->add_option("--shops", c.o.shops, "Player shops (Shop.dat records) per installation")->capture_default_str();
  cmd->add_option("--shop-items", c.o.shopItems, "Items on sale (ShopItem.dat records) per installation")
      ->capture_default_str();
  cmd->add_option("--mails", c.o.mails, "Mail slots (Email.db) per installation")->capture_default_str();
  cmd->add_flag("--force", c.force, "Write into a folder that is not empty (files of the same names are replaced)");
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
  return std::to_string(s.accounts) + " accounts, " + std::to_string(s.chars) + " characters, " +
         std::to_string(s.heroes) + " heroes, " + std::to_string(s.items) + " items, " +
         std::to_string(s.shopRecords) + " shops, " + std::to_string(s.shopItemRecords) + " shop items, " +
         std::to_string(s.guilds) + " guilds, " + std::to_string(s.mailRecords) + " mails, " + Size(s.bytes) +
         (s.sparseOffsets.empty() ? "" : " (sparse)");
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
  CLI::App app{"razere-gen: writes sample server installations (seeded, reproducible)", "razere-gen"};
  app.require_subcommand(1);
  Cli c;
  CLI::App* pair = app.add_subcommand("pair", "A master and a slave installation, a save folder and a Config.ini");
  AddSizeOptions(pair, c);
  CLI::App* server = app.add_subcommand("server", "One installation");
  AddSizeOptions(server, c);
  server->add_option("--side", c.side, "Which side of a pair to write (the slave collides with the master)")
      ->check(CLI::IsMember({"master", "slave"}))
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  }

  if (!c.now.empty()) {
    std::optional<double> now = ParseDate(c.now);
    if (!now) {
      std::fprintf(stderr, "razere-gen: --now: not a date YYYY-MM-DD: %s\n", c.now.c_str());
      return kExitUsage;
    }
    c.o.now = *now;
  }
  try {
    ValidateOptions(c.o);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "razere-gen: %s\n", e.what());
    return kExitUsage;
  }
  if (!c.force && NonEmptyFolder(razere::PathFromText(c.out))) {
    std::fprintf(stderr, "razere-gen: %s is not empty (use --force to write into it)\n", c.out.c_str());
    return kExitFailed;
  }

  try {
    if (pair->parsed()) {
      GeneratedPair p = GeneratePair(c.o, razere::PathFromText(c.out));
      std::printf("razere-gen: pair in %s: master %s; slave %s; settings %s\n", razere::TextOfPath(p.dir).c_str(),
                  Describe(p.master.stats).c_str(), Describe(p.slave.stats).c_str(), razere::TextOfPath(p.config).c_str());
    } else {
      GenSide side = c.side == "slave" ? GenSide::Slave : GenSide::Master;
      GeneratedServer s = GenerateServer(c.o, razere::PathFromText(c.out), side);
      std::printf("razere-gen: %s installation in %s: %s\n", c.side.c_str(), razere::TextOfPath(s.root).c_str(),
                  Describe(s.stats).c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "razere-gen: %s\n", e.what());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

#if defined(_WIN32)
// Wide arguments (folder names in Chinese), handed on as UTF-8.
int wmain(int argc, wchar_t** wargv) {
  razere::Utf8Arguments args(argc, wargv);
  return Run(argc, args.argv());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
