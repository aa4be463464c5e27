// Sample server installations for tests, demos and benchmarks.
//
// One installation is written in the server folder layout below its root:
// ID.DB, Hum.DB, Qel.DB, HeroQel.DB, Qel200/!Setup.txt, the guild folder
// Qel200/GuildBase/, the player shop files Shop.dat and ShopItem.dat and
// the mail store Email.db. A pair is a master and a slave installation, a
// save folder and a Config.ini naming them (written as the program writes it).
//
// Everything follows from the options: the same options (seed and reference
// date included) give the same bytes. The slave is built against the
// master's names, so a slave written alone equals the slave of a pair.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "merge/run_context.h"

namespace razere::gen {

struct GenOptions {
  uint64_t seed = 1;
  // Live records per installation: accounts in ID.DB, characters in Qel.DB,
  // heroes in HeroQel.DB. Hum.DB holds an index record for nearly every
  // character and hero, plus index records without data.
  int32_t accounts = 300;
  int32_t chars = 100;
  int32_t heroes = 40;
  // Occupied item slots per character on average (heroes get half), 0..497.
  int32_t itemsPerChar = 20;
  // Share (0..1) of the slave's account, character and hero names that are
  // also names of the master (by name key; about a third in another letter
  // case). Other slave names never collide with the master's.
  double collisionRate = 0.2;
  // Player shops (Shop.dat) and items on sale in them (ShopItem.dat) per
  // installation; with both 0 the installation has no shop files.
  int32_t shops = 20, shopItems = 100;
  // Guilds per installation (GuildBase/); 0 leaves the guild folder empty.
  int32_t guilds = 12;
  // Mail slots of Email.db per installation; 0 writes no Email.db.
  int32_t mails = 40;
  // Reference local date-time: login times are spread before it and the
  // file headers carry it. 0 = today at 00:00.
  double now = 0;
  // When > 0 (master only): the master's Qel.DB puts its last few live
  // characters beyond this many GiB, with empty records (holes of zeros, no
  // disk space) between them.
  int32_t sparseQelGib = 0;
};

enum class GenSide { Master, Slave };

// What one installation holds.
struct ServerStats {
  // Live records, as the read pass counts them.
  int32_t accounts = 0;
  int32_t indexRecords = 0;
  int32_t chars = 0;
  int32_t heroes = 0;
  // nRecordCount of each file: live, deleted and nameless records (and, in a
  // sparse Qel.DB, the empty records of the holes).
  int32_t idRecords = 0;
  int32_t humRecords = 0;
  int32_t qelRecords = 0;
  int32_t heroRecords = 0;
  // Occupied item slots in live character and hero records; those with an
  // extended serial (>= 0x3FFFFFFF) among them.
  int64_t items = 0;
  int64_t extendedItems = 0;
  // The counters written into !Setup.txt.
  int32_t itemNumber = 0;
  int32_t itemNumberEx = 0;
  // Apparent size of the four record files.
  uint64_t bytes = 0;
  // Byte offsets in Qel.DB of the live records beyond sparseQelGib GiB.
  std::vector<int64_t> sparseOffsets;
  // Records of Shop.dat and ShopItem.dat, used or not (0 without the files).
  int32_t shopRecords = 0;
  int32_t shopItemRecords = 0;
  // Guilds in GuildList.txt, each name once.
  int32_t guilds = 0;
  // Slots of Email.db (0 without the file).
  int32_t mailRecords = 0;
};

struct GeneratedServer {
  std::filesystem::path root;
  ServerPaths paths;  // derived from root as the program derives them
  ServerStats stats;
};

struct GeneratedPair {
  std::filesystem::path dir;
  std::filesystem::path program;  // dir/program/, holds Config.ini
  std::filesystem::path config;   // dir/program/Config.ini
  std::filesystem::path save;     // dir/save/, empty
  GeneratedServer master;         // dir/master/
  GeneratedServer slave;          // dir/slave/
};

// Throws std::invalid_argument for options out of range.
void ValidateOptions(const GenOptions& options);

// Writes one installation below root (created when missing; files of the
// same names are overwritten, nothing else is touched). Throws FileError on
// any I/O failure.
GeneratedServer GenerateServer(const GenOptions& options, const std::filesystem::path& root,
                               GenSide side = GenSide::Master);

// Writes dir/master/, dir/slave/, dir/save/ and dir/program/Config.ini.
GeneratedPair GeneratePair(const GenOptions& options, const std::filesystem::path& dir);

// The reference date-time the options stand for (options.now, or today).
double ReferenceNow(const GenOptions& options);

}  // namespace razere::gen
