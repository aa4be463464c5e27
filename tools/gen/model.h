// The content of one installation, decided before any byte is written: every
// record of the four record files in file order, with the names, owners,
// links, levels and login times that make the data realistic. Items are
// drawn while the records are written (gen/writer.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gen/generator.h"

namespace razere::gen {

// Records whose deleted flag is nonzero are written with a name (often one a
// live record also has) and are never loaded. oldName, when set, is written
// into the name fields before the name: the bytes after the new name keep
// the rest of it, as in a record renamed in the game.
struct AccountRec {
  std::string name;  // empty: a nameless record (not loaded)
  std::string oldName;
  uint8_t deleted = 0;
};

struct IndexRec {
  std::string name;
  std::string account;
  std::string oldName;
  uint8_t deleted = 0;
  uint8_t heroFlag = 0;
};

struct CharRec {
  std::string name;
  std::string account;
  std::string oldName;
  uint8_t deleted = 0;
  uint32_t level = 1;
  double lastLogin = 0;
  int32_t roleId = 0;
  std::array<std::string, 5> links;  // linked names 1..5
  uint8_t link5Mode = 0;              // byte 688; the name at 694 is written whenever links[4] is set
  int32_t items = 0;                  // occupied item slots
};

struct HeroRec {
  std::string name;
  std::string account;
  std::string link;
  std::string oldName;
  uint8_t deleted = 0;
  uint32_t level = 1;
  int32_t items = 0;
};

struct SideModel {
  GenSide side = GenSide::Master;
  std::vector<AccountRec> id;    // ID.DB, file order
  std::vector<IndexRec> hum;     // Hum.DB
  std::vector<CharRec> qel;      // Qel.DB
  std::vector<HeroRec> heroQel;  // HeroQel.DB
  // Distinct live names, first spelling: what the other side may collide with.
  std::vector<std::string> accountNames;
  std::vector<std::string> charNames;  // characters and heroes (one name space in Hum.DB)
};

// The slave needs the master's model (its names); the master takes nullptr.
SideModel BuildSideModel(const GenOptions& options, GenSide side, const SideModel* master, double now);

// The random stream of one purpose of one side.
enum class Stream : uint64_t { Model = 1, Details = 2 };  // Details: items and opaque bytes
uint64_t StreamSeed(const GenOptions& options, GenSide side, Stream stream);

}  // namespace razere::gen
