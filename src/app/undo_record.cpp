#include "app/undo_record.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/merge_history.h"
#include "app/settings.h"
#include "dbfiles/db_format.h"
#include "support/digest.h"
#include "support/file_system.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace razere {

namespace {

// Every file below folder as "<relative name>\t<size>\t<time>", and the bytes.
void ListFolderFiles(const fs::path& folder, const std::string& prefix, std::vector<std::string>& lines,
                     int64_t& bytes) {
  for (const FolderEntry& entry : Fs().List(folder)) {
    const fs::path path = folder / PathFromText(entry.name);
    const std::string name = prefix + entry.name;
    if (Fs().KindOf(path) == FileKind::Folder) {
      ListFolderFiles(path, name + "/", lines, bytes);
    } else {
      const int64_t size = Fs().FileSize(path);
      bytes += size;
      lines.push_back(name + "\t" + std::to_string(size) + "\t" + std::to_string(Fs().ModifiedTime(path)));
    }
  }
}

Json ToJson(const FileFingerprint& f) {
  return Json{{"present", f.present}, {"folder", f.folder}, {"size", f.size}, {"modified", f.modified},
              {"sample", f.sample}};
}

FileFingerprint FingerprintFrom(const Json& j) {
  FileFingerprint f;
  f.present = j.at("present").get<bool>();
  f.folder = j.at("folder").get<bool>();
  f.size = j.at("size").get<int64_t>();
  f.modified = j.at("modified").get<int64_t>();
  f.sample = j.at("sample").get<std::string>();
  return f;
}

}  // namespace

FileFingerprint TakeFingerprint(const std::string& path, const DbKindInfo* recordKind) {
  FileFingerprint f;
  const fs::path p = PathFromText(path);
  switch (Fs().KindOf(p)) {
    case FileKind::None:
      return f;
    case FileKind::Folder: {
      f.present = f.folder = true;
      std::vector<std::string> lines;
      ListFolderFiles(p, "", lines, f.size);
      std::sort(lines.begin(), lines.end());
      Sha256 digest;
      for (const std::string& line : lines) {
        digest.Update(reinterpret_cast<const uint8_t*>(line.data()), line.size());
        digest.Update(reinterpret_cast<const uint8_t*>("\n"), 1);
      }
      f.sample = HexText(digest.Final());
      return f;
    }
    default:
      f.present = true;
      f.size = Fs().FileSize(p);
      f.modified = Fs().ModifiedTime(p);
      if (recordKind != nullptr) f.sample = FingerprintRecordFile(path, *recordKind);
      return f;
  }
}

std::string UndoRecordPath(const ServerPaths& master) { return FolderPart(master.ID) + kUndoRecordFileName; }

void WriteUndoRecord(const std::string& path, const UndoRecord& r) {
  Json targets = Json::array();
  for (const UndoTarget& t : r.targets) {
    targets.push_back(Json{{"target", t.target},
                           {"old", t.old},
                           {"backup", t.backup},
                           {"folder", t.folder},
                           {"existed", t.existed},
                           {"placed", t.placed},
                           {"before", ToJson(t.before)},
                           {"after", ToJson(t.after)}});
  }
  const Json j{{"version", 1},
               {"time", r.time},
               {"backup", r.backup},
               {"history", r.historyLine},
               {"counters",
                {{"before", {{"ItemNumber", r.itemNumberBefore}, {"ItemNumberEx", r.itemNumberExBefore}}},
                 {"after", {{"ItemNumber", r.itemNumberAfter}, {"ItemNumberEx", r.itemNumberExAfter}}}}},
               {"targets", targets},
               {"made_folders", r.madeFolders},
               {"restoring", r.restoring},
               {"force", r.force},
               {"staging", r.staging},
               {"previous", r.previous}};
  // Paths are the run's text, valid UTF-8; anything else is replaced rather
  // than failing the replacement at its last step.
  WriteFileAtomic(PathFromText(path), j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

std::optional<UndoRecord> ReadUndoRecord(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(PathFromText(path), bytes)) return std::nullopt;
  try {
    const Json j = Json::parse(bytes);
    if (j.at("version").get<int>() != 1) throw std::runtime_error("version");
    UndoRecord r;
    r.time = j.at("time").get<std::string>();
    r.backup = j.at("backup").get<bool>();
    r.historyLine = j.at("history").get<std::string>();
    const Json& counters = j.at("counters");
    r.itemNumberBefore = counters.at("before").at("ItemNumber").get<std::string>();
    r.itemNumberExBefore = counters.at("before").at("ItemNumberEx").get<std::string>();
    r.itemNumberAfter = counters.at("after").at("ItemNumber").get<std::string>();
    r.itemNumberExAfter = counters.at("after").at("ItemNumberEx").get<std::string>();
    for (const Json& t : j.at("targets")) {
      UndoTarget u;
      u.target = t.at("target").get<std::string>();
      u.old = t.at("old").get<std::string>();
      u.backup = t.at("backup").get<std::string>();
      u.folder = t.at("folder").get<bool>();
      u.existed = t.at("existed").get<bool>();
      u.placed = t.at("placed").get<bool>();
      u.before = FingerprintFrom(t.at("before"));
      u.after = FingerprintFrom(t.at("after"));
      if (u.target.empty() || u.old.empty()) throw std::runtime_error("target");
      r.targets.push_back(std::move(u));
    }
    r.madeFolders = j.at("made_folders").get<std::vector<std::string>>();
    r.restoring = j.at("restoring").get<bool>();
    r.force = j.at("force").get<bool>();
    r.staging = j.value("staging", false);
    r.previous = j.value("previous", std::string());
    return r;
  } catch (const std::exception&) {
    throw std::runtime_error("合区还原记录已损坏，无法使用：" + path);
  }
}

std::string ModifiedTimeText(int64_t modified) {
  const std::time_t seconds = static_cast<std::time_t>(modified / 1000000000);
  std::tm local{};
#if defined(_WIN32)
  if (localtime_s(&local, &seconds) != 0) return "?";
#else
  if (localtime_r(&seconds, &local) == nullptr) return "?";
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace razere
