// The character stage: loads the character index (Hum.DB), character data
// (Qel.DB) and hero data (HeroQel.DB) of both installations, drops records
// without an owner and, with CleanData, long-inactive low-level characters,
// calls MergeAccounts, then merges the slave's characters and heroes into
// the master's (renaming slave names that are taken), writes the three new
// files into the save folder, registers every written character with the
// new mail store and renumbers every item serial.
//
// Names are GBK byte strings from reading to writing. Master records keep
// their names and come first, in master file order; slave records follow in
// slave file order.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "merge/character_collections.h"
#include "merge/run_context.h"

namespace razere {

// Status texts that end in a name are cut, as GBK text, to these many bytes.
inline constexpr int32_t kCharStatusMaxBytes = 53;
inline constexpr int32_t kHeroStatusMaxBytes = 57;

// What the character stage works on: the run's settings (both sides'
// record files, SavePath, the clean-up options), the run's services (the
// bar; MailStore, which gets a placeholder for every character written), the
// account stage's products (read, cleaned and merged: MergeAccounts runs
// within this stage) and its own products, which it creates.
struct CharacterStageIO {
  CharacterStageIO(const RunSettings& run, RunServices& services, AccountStageProducts& accounts,
                   CharacterStageProducts& out)
      : run(run), services(services), accounts(accounts), out(out) {}
  // A whole context (tests).
  CharacterStageIO(RunContext& ctx) : CharacterStageIO(ctx, ctx, ctx, ctx) {}  // NOLINT: implicit on purpose

  const RunSettings& run;
  RunServices& services;
  AccountStageProducts& accounts;
  CharacterStageProducts& out;
};

// The whole stage. Needs MasterAccounts and SlaveAccounts (all the slave's
// accounts as loaded) from LoadAccounts. Leaves MasterCharIndex, MasterCharData, MasterHeroData
// and CharRenames filled for the later stages, the source files open in the
// Master*/Slave* file fields, and the item serial maps and counters set.
// Throws on file errors, and when no free name exists for a slave character
// or hero.
void MergeCharacters(const CharacterStageIO& io);

// The pieces of MergeCharacters, in the order it runs them.

// Resets the item serial counters and maps, creates the stage collections and
// reads the six files (index, data, heroes; master, then slave).
void LoadCharacters(const CharacterStageIO& io);
// With CleanData: drops index entries without data, accounts without index
// entries and data entries without index entries, and marks dangling linked
// names. Without CleanData it does nothing.
void CleanCharacters(const CharacterStageIO& io);
// Slave index entries into MasterCharIndex, renaming taken names (CharRenames).
void MergeCharIndex(const CharacterStageIO& io);
// SavePath + "Hum.DB".
void WriteHumDb(const CharacterStageIO& io);
// Characters and heroes run the same merge and write (character_kinds.h says
// what differs).
// Slave data entries into MasterCharData with their new account, name and
// linked names; copies role ids into CharRenames' entries.
void MergeCharData(const CharacterStageIO& io);
// SavePath + "Qel.DB"; with CleanData removes the dangling linked names,
// registers each written character with MailStore (when set) and renumbers
// its items.
void WriteQelDb(const CharacterStageIO& io);
// Slave hero entries into MasterHeroData with their new account, name and
// linked name.
void MergeHeroData(const CharacterStageIO& io);
// SavePath + "HeroQel.DB"; renumbers the items of each written hero.
void WriteHeroQelDb(const CharacterStageIO& io);

// The inactivity rule: more than minDay whole days since the last login and a
// level below minLevel (level unsigned, minLevel signed, compared as 64-bit).
bool IsInactiveCharacter(double now, double lastLogin, uint32_t level, int32_t minDay, int32_t minLevel);

// The clean-up patch of a whole character data record: empties the linked
// names marked dangling (for linked name 5 also its present byte and both
// companions), then clears the flag of linked name 3 when that name is empty,
// the flag of linked name 4 when that one is, and the flag of both when either
// is. std::out_of_range when the span is shorter than the record.
void RemoveDanglingLinks(std::span<uint8_t> record, const std::array<uint8_t, 5>& dangling);

}  // namespace razere
