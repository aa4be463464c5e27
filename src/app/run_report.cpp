#include "app/run_report.h"

#include <nlohmann/json.hpp>

#include "app/side_rows.h"
#include "support/ansi.h"
#include "support/file_system.h"

namespace razere {

namespace {

using Json = nlohmann::ordered_json;

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Json Count(int64_t n) { return n < 0 ? Json(nullptr) : Json(n); }

Json Counts(const ReportCounts& c) {
  return Json{{"accounts", Count(c.accounts)}, {"characters", Count(c.characters)}, {"heroes", Count(c.heroes)},
              {"guilds", Count(c.guilds)},     {"shops", Count(c.shops)},           {"shopItems", Count(c.shopItems)},
              {"mails", Count(c.mails)}};
}

// Every path of a side that has a row, under the row's settings key (the
// root as "QelServer"); the area key is a secret of the web service.
Json SidePaths(const ServerPaths& side) {
  Json out = Json::object();
  for (const SideRow& row : kSideRows) {
    const std::string name = row.settingsKey != nullptr ? row.settingsKey : std::string(row.OutputName());
    out[name] = side.*row.path;
  }
  return out;
}

Json Renames(const std::vector<ReportRename>& list, bool withHero) {
  Json out = Json::array();
  for (const ReportRename& r : list) {
    Json e{{"old", ReportName(r.oldName)}, {"new", ReportName(r.newName)}};
    if (withHero) e["hero"] = r.hero;
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace

std::string ReportName(std::string_view gbk) {
  const std::string utf8 = GbkToUtf8(gbk);
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<uint8_t>(utf8[i]);
    // U+DC80..U+DCFF (ED B2 80 .. ED B3 BF) carries an invalid byte 0x80..0xFF.
    if (b == 0xED && i + 2 < utf8.size() && (static_cast<uint8_t>(utf8[i + 1]) & 0xFE) == 0xB2) {
      const unsigned byte = ((static_cast<uint8_t>(utf8[i + 1]) & 0x01) << 6) | (static_cast<uint8_t>(utf8[i + 2]) & 0x3F);
      const unsigned raw = 0x80 | byte;
      out += "\\x";
      out += kHex[raw >> 4];
      out += kHex[raw & 0x0F];
      i += 2;
    } else if (b == '\\') {
      out += "\\x5C";
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

std::optional<std::string> ReportNameBytes(std::string_view text) {
  std::string utf8;
  std::string gbk;
  auto flush = [&] {
    gbk += Utf8ToGbk(utf8);
    utf8.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      utf8 += text[i];
      continue;
    }
    if (i + 3 >= text.size()) return std::nullopt;
    if (text[i + 1] != 'x') return std::nullopt;
    const int hi = HexValue(text[i + 2]), lo = HexValue(text[i + 3]);
    if (hi < 0 || lo < 0) return std::nullopt;
    flush();
    gbk += static_cast<char>(hi * 16 + lo);
    i += 3;
  }
  flush();
  return gbk;
}

std::string RunReportJson(const RunReport& r) {
  Json j;
  j["dryRun"] = r.dryRun;
  j["completed"] = r.completed;
  j["error"] = r.error.empty() ? Json(nullptr) : Json(r.error);
  if (r.haveSettings) {
    const RunSettings& s = r.settings;
    Json pairs = Json::array();
    for (const TTextFileName& p : s.TextFilePairs) pairs.push_back({{"master", p.Master}, {"slave", p.Slave}});
    j["settings"] = {{"master", SidePaths(s.Master)},
                     {"slave", SidePaths(s.Slave)},
                     {"savePath", s.SavePath},
                     {"replace", s.Replace},
                     {"backup", s.Backup},
                     {"clean", s.CleanData},
                     {"minDay", s.MinDay},
                     {"minLevel", s.MinLevel},
                     {"gmm", s.Gmm},
                     {"textFilePairs", pairs}};
  } else {
    j["settings"] = nullptr;
  }
  j["counts"] = {{"master", Counts(r.master)}, {"slave", Counts(r.slave)}, {"new", Counts(r.result)}};
  Json removed{{"accounts", Json::array()}, {"characters", Json::array()}, {"heroes", Json::array()}};
  for (const ReportRemoved& e : r.removed) {
    removed[e.kind].push_back({{"name", ReportName(e.name)}, {"reason", e.reason}});
  }
  j["removed"] = removed;
  j["renames"] = {{"accounts", Renames(r.accountRenames, false)},
                  {"characters", Renames(r.characterRenames, true)},
                  {"guilds", Renames(r.guildRenames, false)},
                  {"shops", Renames(r.shopRenames, false)}};
  auto optional = [](const std::optional<int64_t>& v) { return v ? Json(*v) : Json(nullptr); };
  j["serials"] = {{"ordinary", {{"given", Count(r.serials.ordinaryGiven)}, {"last", Count(r.serials.ordinaryLast)}}},
                  {"extended", {{"given", Count(r.serials.extendedGiven)}, {"last", Count(r.serials.extendedLast)}}},
                  {"ItemNumberBefore", optional(r.serials.itemNumberBefore)},
                  {"ItemNumberExBefore", optional(r.serials.itemNumberExBefore)}};
  Json files = Json::array();
  for (const ReportFile& f : r.files) files.push_back({{"path", f.path}, {"size", f.size}});
  j["files"] = files;
  Json seconds = Json::object();
  for (const ReportStageTime& t : r.seconds) seconds[t.stage] = t.seconds;
  j["seconds"] = seconds;
  // Paths and messages are UTF-8 already; a byte that is not is replaced
  // rather than failing the report.
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

void WriteRunReport(const std::string& path, const RunReport& report) {
  WriteFileAtomic(PathFromText(path), RunReportJson(report));
}

}  // namespace razere
