#include "app/run_inputs.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "app/settings.h"
#include "app/side_rows.h"

namespace razere {

namespace {

// Every file below folder (text, ending with a separator), depth first, in
// name order so that two walks of an unchanged folder list the same paths.
// A folder that cannot be listed adds nothing: the guild stage reports it
// when it reads there.
void FilesBelow(const std::string& folder, std::vector<std::string>& out) {
  std::vector<FolderEntry> entries;
  try {
    entries = Fs().List(PathFromText(folder));
  } catch (const FileError&) {
    return;
  }
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  for (const FolderEntry& entry : entries) {
    const std::string path = folder + entry.name;
    if (entry.kind == FileKind::Folder) {
      FilesBelow(path + kPathSep, out);
    } else {
      out.push_back(path);
    }
  }
}

InputState Observe(const std::string& path) {
  InputState s;
  s.path = path;
  try {
    const std::filesystem::path p = PathFromText(path);
    s.kind = Fs().KindOf(p);
    if (s.kind == FileKind::File) {
      s.size = Fs().FileSize(p);
      s.modified = Fs().ModifiedTime(p);
    }
  } catch (const FileError&) {
    // Gone between the calls, or not to be inspected: either way not what
    // the run read.
    s = InputState{path, FileKind::Unknown, 0, 0};
  }
  return s;
}

}  // namespace

std::vector<std::string> RunInputFiles(const RunContext& ctx) {
  std::vector<std::string> files;
  std::unordered_set<std::string> seen;
  auto add = [&](const std::string& path) {
    if (!path.empty() && seen.insert(path).second) files.push_back(path);
  };
  for (const ServerPaths* side : {&ctx.Master, &ctx.Slave}) {
    for (const SideRow& row : kSideRows) {
      if (!row.IsRoot() && !row.IsFolder()) add(side->*row.path);
    }
  }
  for (const ServerPaths* side : {&ctx.Master, &ctx.Slave}) {
    for (const SideRow& row : kSideRows) {
      const std::string& folder = side->*row.path;
      if (!row.IsFolder() || folder.empty()) continue;
      std::vector<std::string> below;
      FilesBelow(WithTrailingSeparator(folder), below);
      for (const std::string& f : below) add(f);
    }
  }
  for (const auto& pair : ctx.TextFilePairs) {
    add(pair.Master);
    add(pair.Slave);
  }
  return files;
}

InputSnapshot InputSnapshot::Take(const RunContext& ctx) {
  InputSnapshot snap;
  for (const std::string& path : RunInputFiles(ctx)) snap.inputs_.push_back(Observe(path));
  return snap;
}

std::string InputSnapshot::FirstChangedSince(const InputSnapshot& before) const {
  std::unordered_map<std::string, const InputState*> now;
  for (const InputState& s : inputs_) now.emplace(s.path, &s);
  for (const InputState& then : before.inputs_) {
    auto it = now.find(then.path);
    if (it == now.end() || *it->second != then) return then.path;
    now.erase(it);
  }
  for (const InputState& s : inputs_) {
    if (now.count(s.path)) return s.path;  // a guild file that was not there
  }
  return {};
}

std::string FirstInputInUse(const std::vector<std::string>& inputs) {
  for (const std::string& path : inputs) {
    const std::filesystem::path p = PathFromText(path);
    if (Fs().KindOf(p) != FileKind::File) continue;
    try {
      Fs().Open(p, OpenMode::ReadInput);
      continue;
    } catch (const FileError&) {
      // Refused: in use when an open that shares with writers succeeds.
    }
    try {
      Fs().Open(p, OpenMode::Read);
    } catch (const FileError&) {
      continue;  // not to be read at all: the stage that reads it reports why
    }
    return path;
  }
  return {};
}

std::string InputInUseMessage(const std::string& file) {
  return "数据文件正被其他程序使用：" + file + "，请先关闭游戏服务器！！！";
}

}  // namespace razere
