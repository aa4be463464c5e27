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

// One Shop.dat record; a nonzero state marks a record not in use.
struct ShopRec {
  std::string name;     // the shop's name
  std::string owner;    // character name of the owner
  std::string account;  // the owner's account
  uint8_t state = 0;
};

// One ShopItem.dat record.
struct ShopItemRec {
  std::string shop;     // the shop's name as the item spells it
  std::string owner;
  std::string account;
  std::string second;   // another character name, often empty
  int32_t serial = 0;
  uint16_t kind = 1;
  uint8_t state = 0;
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
  // Player shops (gen/shops.h).
  std::vector<ShopRec> shops;          // Shop.dat, file order
  std::vector<ShopItemRec> shopItems;  // ShopItem.dat
  std::vector<std::string> shopNames;  // distinct names of Shop.dat, first spelling
};

// The slave needs the master's model (its names); the master takes nullptr.
SideModel BuildSideModel(const GenOptions& options, GenSide side, const SideModel* master, double now);

// The random stream of one purpose of one side.
// Details: items and opaque bytes; Shops / ShopDetails: the same for the player shops.
enum class Stream : uint64_t { Model = 1, Details = 2, Shops = 3, ShopDetails = 4 };
uint64_t StreamSeed(const GenOptions& options, GenSide side, Stream stream);

}  // namespace razere::gen
