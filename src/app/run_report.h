// What a run did or, as a dry run, would do: its settings, the counts before
// and after, every record it leaves out and every name it changes, the serials
// it gives out, the files it writes and the time of each stage. Filled by the
// driver as far as the run gets; a refused or failed run keeps its error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "merge/run_context.h"

namespace razere {

// Names are the records' GBK bytes.
struct ReportRename {
  std::string oldName, newName;
  bool hero = false;  // characters only
};

struct ReportRemoved {
  std::string kind;    // "accounts", "characters", "heroes"
  std::string reason;  // "no account", "repeated name", "no index entry", "inactive", "dangling"
  std::string name;    // GBK
};

// -1: not known (the run ended before it was counted, or the run has no such data).
struct ReportCounts {
  int64_t accounts = -1, characters = -1, heroes = -1, guilds = -1, shops = -1, shopItems = -1, mails = -1;
};

struct ReportSerials {
  int64_t ordinaryGiven = -1, extendedGiven = -1;
  int64_t ordinaryLast = -1, extendedLast = -1;
  std::optional<int64_t> itemNumberBefore, itemNumberExBefore;  // the master's !Setup.txt before the run
};

struct ReportFile {
  std::string path;  // UTF-8
  uint64_t size = 0;
};

struct ReportStageTime {
  std::string stage;
  double seconds = 0;
};

struct RunReport {
  // false when nobody reads the report: the run then keeps no copy of its
  // renames and removals and no list of the files it writes (a large
  // server's renames are megabytes at the run's peak).
  bool detailed = true;

  bool dryRun = false;
  bool completed = false;
  std::string error;  // UTF-8; empty when the run completed

  bool haveSettings = false;
  RunSettings settings;  // paths and options; the web service's secrets are never reported

  ReportCounts master, slave, result;
  std::vector<ReportRemoved> removed;
  std::vector<ReportRename> accountRenames, characterRenames, guildRenames, shopRenames;
  ReportSerials serials;
  std::vector<ReportFile> files;
  std::vector<ReportStageTime> seconds;
};

// GBK bytes as UTF-8 text for the report. A byte that is not part of a valid
// GBK character is written as "\xHH" (two upper-case hex digits), and a
// backslash of the name itself as "\x5C", so that the text maps back to the
// exact bytes: every backslash in the result starts such an escape.
std::string ReportName(std::string_view gbk);
// The inverse of ReportName; nullopt for text ReportName never gives.
std::optional<std::string> ReportNameBytes(std::string_view text);

// The report as JSON text (UTF-8, two-space indent).
std::string RunReportJson(const RunReport& report);

// Writes the JSON atomically (complete or absent). Throws FileError.
void WriteRunReport(const std::string& path, const RunReport& report);

}  // namespace razere
