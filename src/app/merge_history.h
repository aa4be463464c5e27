// The merge history: one line for every slave merged into a data set, kept in
// "合区历史.txt" beside the master's ID.DB and written into the save folder
// with every new data set. A slave that a line already names is not merged a
// second time: its characters, accounts, guilds and shops would all appear
// twice under new names, with their items duplicated.
//
// A line, tab-separated, in the system's ANSI code page like the change logs:
//   <YYYY-MM-DD HH:MM:SS> <slave root> <ID.DB fp> <Hum.DB fp> <Qel.DB fp> <HeroQel.DB fp>
//   <ID.DB path> <Hum.DB path> <Qel.DB path> <HeroQel.DB path>
// where a fingerprint is "<file name> <size in bytes> <sha256 in hex>". Only
// the four fingerprints decide whether a line names a slave; a line that
// does not parse (an operator's note) is kept and never matches.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "merge/run_context.h"

namespace razere {

inline constexpr const char* kHistoryFileName = "合区历史.txt";

// The four record files of a side, each as "<name> <size> <sha256>". The
// digest covers the file's header and a sample of its records spread over
// the whole file, the first and the last among them: cheap on files of many
// gigabytes, and no two data sets a server writes share all four.
struct SideFingerprint {
  std::array<std::string, 4> files;  // ID.DB, Hum.DB, Qel.DB, HeroQel.DB
  // Not one record in the four files: such a slave adds nothing, so merging
  // it again duplicates nothing either.
  bool noRecords = true;
};

// One record file's part of a fingerprint: "<name> <size> <sha256>" over its
// header, sampled records and tail. Throws FileError.
std::string FingerprintRecordFile(const std::string& path, const struct DbKindInfo& kind);

// Reads the side's four record files. Throws FileError when one cannot be read.
SideFingerprint FingerprintSide(const ServerPaths& side);

// The master's history file: beside its ID.DB.
std::string MasterHistoryPath(const ServerPaths& master);

// The history's line for merging slave now (a date-time, see support/datetime.h).
std::string HistoryLine(double now, const ServerPaths& slave, const SideFingerprint& fingerprint);

// Any of the four record files is the same file on both sides.
bool SharesRecordFile(const ServerPaths& master, const ServerPaths& slave);

// A history line's tab-separated fields (one field for a line without tabs).
std::vector<std::string> HistoryFields(const std::string& line);

// The date and time of the first line of lines that names fingerprint.
std::optional<std::string> EarlierMerge(const std::vector<std::string>& lines, const SideFingerprint& fingerprint);

// The master's history as lines (UTF-8); empty when it has none. Throws
// FileError when the file is there but cannot be read.
std::vector<std::string> ReadMasterHistory(const ServerPaths& master);

// Writes the master's lines and line into folder's history file, complete or
// absent. Throws FileError.
void WriteHistory(const std::string& folder, std::vector<std::string> lines, const std::string& line);

}  // namespace razere
