#include "app/space_check.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "app/merge_history.h"
#include "app/result_output.h"
#include "app/run_driver.h"
#include "app/settings.h"
#include "app/side_rows.h"
#include "dbfiles/db_format.h"
#include "dbfiles/xo_custom_database.h"
#include "support/file_system.h"

namespace fs = std::filesystem;

namespace razere {

namespace {

uint64_t SizeOf(const std::string& path) { return path.empty() ? 0 : BytesBelow(PathFromText(path)); }

uint64_t Records(const std::string& file, const DbKindInfo& kind) {
  const uint64_t size = SizeOf(file);
  return size > db_header::kSize ? (size - db_header::kSize) / kind.recordSize : 0;
}

// The nearest folder of path that exists (a save folder is made by the run).
fs::path ExistingFolder(fs::path path) {
  path = Fs().Canonical(path);
  while (!path.empty() && Fs().KindOf(path) != FileKind::Folder) {
    const fs::path parent = path.parent_path();
    if (parent == path) break;
    path = parent;
  }
  return path;
}

// The folder a file (or a folder's new copy) is written into.
std::string FolderOf(const std::string& path) {
  const std::string folder = FolderPart(WithoutTrailingSeparators(path));
  return folder.empty() ? std::string(".") : folder;
}

// Room for an atomic rewrite of a small file and a history line.
constexpr uint64_t kSmallFileSlack = 4096;

class Volumes {
 public:
  void Add(const std::string& folder, uint64_t bytes, bool master) {
    const fs::path existing = ExistingFolder(PathFromText(folder));
    const std::string volume = Fs().VolumeOf(existing);
    auto [it, fresh] = index_.try_emplace(volume, needs_.size());
    if (fresh) needs_.push_back({folder, master, 0, Fs().FreeSpace(existing)});
    needs_[it->second].needed += bytes;
  }
  std::vector<SpaceNeed> Take() { return std::move(needs_); }

 private:
  std::map<std::string, size_t> index_;
  std::vector<SpaceNeed> needs_;
};

std::string Megabytes(uint64_t bytes, bool up) {
  const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  char text[64];
  std::snprintf(text, sizeof text, "%.1f MB", up ? std::ceil(mb * 10) / 10 : std::floor(mb * 10) / 10);
  return text;
}

}  // namespace

std::vector<SpaceNeed> EstimateSpace(const RunContext& ctx) {
  const ServerPaths& m = ctx.Master;
  const ServerPaths& s = ctx.Slave;
  const uint64_t characters = Records(m.Qel, kDbKinds[2]) + Records(s.Qel, kDbKinds[2]);
  const uint64_t mailSlot = static_cast<uint64_t>(kMailDataSize) + xodb::kRecordHeaderSize;

  Volumes volumes;
  uint64_t save = 0;
  std::vector<std::pair<std::string, uint64_t>> staged;  // target folder, bytes
  for (const auto field : kReplacedRows) {
    uint64_t bytes = SizeOf(m.*field) + SizeOf(s.*field);
    if (field == &ServerPaths::Email) bytes += characters * mailSlot;
    save += bytes;
    if (!(m.*field).empty()) staged.emplace_back(FolderOf(m.*field), bytes);
  }
  for (const TTextFileName& pair : ctx.TextFilePairs) {
    const uint64_t bytes = SizeOf(pair.Master) + SizeOf(pair.Slave);
    save += bytes;
    staged.emplace_back(FolderOf(pair.Master), bytes);
  }
  const uint64_t history = SizeOf(MasterHistoryPath(m)) + kSmallFileSlack;
  save += SizeOf(s.ID) + SizeOf(s.Hum) + history;
  staged.emplace_back(FolderOf(m.ID), history);

  volumes.Add(ctx.SavePath, save, false);
  if (ctx.Replace) {
    for (const auto& [folder, bytes] : staged) volumes.Add(folder, bytes, true);
  }
  // The counters are written into the master's !Setup.txt in any case.
  if (!m.Setup.empty()) volumes.Add(FolderOf(m.Setup), SizeOf(m.Setup) + kSmallFileSlack, true);
  return volumes.Take();
}

std::string SpaceRefusal(const std::vector<SpaceNeed>& needs) {
  for (const SpaceNeed& need : needs) {
    if (need.needed <= need.free) continue;
    return std::string(need.master ? "主库" : "保存目录") + "所在的磁盘空间不足！！！\r\n\r\n" + need.folder +
           "\r\n需要：" + Megabytes(need.needed, true) + "，可用：" + Megabytes(need.free, false);
  }
  return {};
}

}  // namespace razere
