#include "gen/generator.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "app/settings.h"
#include "gen/model.h"
#include "gen/shops.h"
#include "gen/writer.h"
#include "support/datetime.h"
#include "support/file_system.h"

namespace fs = std::filesystem;

namespace razere::gen {

namespace {

constexpr int32_t kMaxRecords = 10'000'000;

void RequireRange(const char* what, double v, double lo, double hi) {
  if (!(v >= lo && v <= hi)) {  // NaN fails too
    throw std::invalid_argument("--" + std::string(what) + " 的值须在 " + std::to_string(static_cast<int64_t>(lo)) +
                                " 到 " + std::to_string(static_cast<int64_t>(hi)) + " 之间");
  }
}

// The root as the program stores it: absolute, with a trailing separator.
std::string RootText(const fs::path& root) {
  std::string s = TextOfPath(fs::absolute(root).lexically_normal());
  if (s.empty() || s.back() != kPathSep) s += kPathSep;
  return s;
}

// The side's model with its player shops.
SideModel BuildModel(const GenOptions& o, GenSide side, const SideModel* master, double now) {
  SideModel m = BuildSideModel(o, side, master, now);
  BuildShops(o, m, master);
  return m;
}

GeneratedServer Write(const SideModel& model, const GenOptions& o, const fs::path& root, double now) {
  GeneratedServer out;
  out.root = PathFromText(RootText(root));
  out.paths.QelServer = TextOfPath(out.root);
  DeriveServerPaths(out.paths, out.paths.QelServer);
  out.stats = WriteServerFiles(model, o, out.paths, now);
  return out;
}

}  // namespace

void ValidateOptions(const GenOptions& o) {
  RequireRange("accounts", o.accounts, 0, kMaxRecords);
  RequireRange("chars", o.chars, 0, kMaxRecords);
  RequireRange("heroes", o.heroes, 0, kMaxRecords);
  RequireRange("items-per-char", o.itemsPerChar, 0, 497);
  if (!(o.collisionRate >= 0 && o.collisionRate <= 1)) throw std::invalid_argument("--collision-rate 的值须在 0 到 1 之间");
  RequireRange("guilds", o.guilds, 0, kMaxRecords);
  RequireRange("shops", o.shops, 0, kMaxRecords);
  RequireRange("shop-items", o.shopItems, 0, kMaxRecords);
  RequireRange("mails", o.mails, 0, kMaxRecords);
  RequireRange("sparse-qel-gib", o.sparseQelGib, 0, 1024);
  if (!std::isfinite(o.now) || o.now < 0) throw std::invalid_argument("--now 的值须是日期时间");
}

double ReferenceNow(const GenOptions& o) { return o.now > 0 ? o.now : std::floor(NowDateTime()); }

GeneratedServer GenerateServer(const GenOptions& o, const fs::path& root, GenSide side) {
  ValidateOptions(o);
  const double now = ReferenceNow(o);
  SideModel master = BuildModel(o, GenSide::Master, nullptr, now);
  if (side == GenSide::Master) return Write(master, o, root, now);
  SideModel slave = BuildModel(o, GenSide::Slave, &master, now);
  return Write(slave, o, root, now);
}

GeneratedPair GeneratePair(const GenOptions& o, const fs::path& dir) {
  ValidateOptions(o);
  const double now = ReferenceNow(o);
  GeneratedPair pair;
  pair.dir = fs::absolute(dir).lexically_normal();
  pair.program = pair.dir / "program";
  pair.config = pair.program / "Config.ini";
  pair.save = pair.dir / "save";

  SideModel master = BuildModel(o, GenSide::Master, nullptr, now);
  pair.master = Write(master, o, pair.dir / "master", now);
  {
    SideModel slave = BuildModel(o, GenSide::Slave, &master, now);
    pair.slave = Write(slave, o, pair.dir / "slave", now);
  }

  for (const fs::path& folder : {pair.program, pair.save}) Fs().MakeFolders(folder);
  RunContext ctx;
  SetDefaultSettings(ctx);
  ctx.ConfigFile = TextOfPath(pair.config);
  ctx.Master = pair.master.paths;
  ctx.Slave = pair.slave.paths;
  ctx.SavePath = RootText(pair.save);
  SaveConfig(ctx);
  return pair;
}

}  // namespace razere::gen
