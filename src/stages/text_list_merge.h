// The text list stage: the item bindings (ItemBindAccount.txt,
// ItemBindChrName.txt, ItemBindIPaddr.txt), the remembered positions of memory
// items (RememberItemList.txt) and the operator's own text-file pairs of both
// installations, merged into the save folder. Item serials follow the
// renumbering of their side, and the slave's account and character renames
// follow into the slave's lines; slave entries are appended after the
// master's.
//
// Text in memory is UTF-8 (support/textfile.h decodes each file by its
// byte-order mark, else as GBK, losslessly). Names are matched against the
// rename maps by the name key of their GBK form.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "merge/run_context.h"
#include "support/hashlist.h"
#include "support/memini.h"
#include "support/textfile.h"

namespace razere {

// Output names in the save folder; the four lists are always written.
inline constexpr std::string_view kItemBindAccountFile = "ItemBindAccount.txt";
inline constexpr std::string_view kItemBindChrNameFile = "ItemBindChrName.txt";
inline constexpr std::string_view kItemBindIPaddrFile = "ItemBindIPaddr.txt";
inline constexpr std::string_view kRememberItemListFile = "RememberItemList.txt";

inline constexpr int kRememberSlots = 6;
// Buckets of a memory item list (keyed by the decimal text of a serial).
inline constexpr int32_t kItemEventBuckets = 256;

// One item binding; a line "nItemIdx TAB nMakeIdex TAB sBindName".
struct TItemBind {
  int32_t nMakeIdex = 0;  // the item's serial
  int32_t nItemIdx = 0;   // the item's index number as the file has it
  std::string sBindName;  // account, character or address, per file
};

// One remembered position; an empty sMapName marks the slot unused.
struct TRememberItem {
  std::string sMapName;
  int32_t nCurrX = 0;
  int32_t nCurrY = 0;
};

// One memory item; written as one line per used slot:
// "sItemName TAB nMakeIndex TAB slot TAB sMapName TAB nCurrX TAB nCurrY".
struct TItemEvent {
  std::string sItemName;
  int32_t nMakeIndex = 0;
  std::array<TRememberItem, kRememberSlots> RememberItem{};
};

using TItemBindList = std::vector<TItemBind>;
// Key: the decimal text of the serial the item was created with; insertion
// order is file order.
using TItemEventList = THashList<TItemEvent>;

// ParseDecimal (support/text_util.h, one sign); -1 for any text it refuses
// (empty, blanks, other characters, overflow).
int32_t DecimalOrMinusOne(std::string_view s);

// Appends the valid bindings of the lines: empty and ";" lines are skipped;
// fields are split on space, comma and TAB; a binding is kept when its item
// index and serial are above 0 and its bound name is not empty.
void ParseItemBindLines(const std::vector<std::string>& lines, TItemBindList& out);

// Adds the used slots of the lines to `out`: a line names an item, its
// serial, a slot 0..5 (ended only by a comma or TAB), a map and x, y >= 0.
// Lines are matched to items by the serial's text as written; a new item is
// keyed by the serial's decimal text. A later line for a slot overwrites it.
void ParseRememberItemLines(const std::vector<std::string>& lines, TItemEventList& out);

// The lines the stage writes for a binding list and for a memory item list.
std::vector<std::string> ItemBindLines(const TItemBindList& list);
std::vector<std::string> RememberItemLines(const TItemEventList& list);

// One side's object of a text-file pair: the file's lines, or, when either
// file of the pair has a "[section]" line, an in-memory INI file.
struct TextPairObject {
  TextEncoding encoding = TextEncoding::Ansi;  // as read; Ansi when there was no file
  std::vector<std::string> lines;              // when ini is null
  std::unique_ptr<TMemoryIniFile> ini;
};

// A line that, trimmed, begins with "[" and ends with "]".
bool IsSectionHeaderLine(std::string_view line);

// The save-folder name of a pair's output: the file name part of its master
// path; empty when the path has none.
std::string PairOutputName(const TTextFileName& pair);

// Why the pairs cannot be written into one save folder, or "" when they can:
// a pair whose master path has no file name, two pairs whose master files
// share a file name (ASCII case ignored, as on the servers' file system), or
// a master file named like one of the stage's other outputs or another file
// the run writes into the save folder. Each would make one output overwrite
// another, and the master replacement would then copy the wrong content.
std::string TextPairOutputConflict(const RunSettings& run);

// The stage. Needs AccountRenames, CharRenames, MasterItemSerials and
// SlaveItemSerials (std::logic_error when one is missing). Writes the four
// lists and one file per text-file pair into SavePath; every file is complete
// or absent.
//
// Missing input files count as empty. Throws FileError when an input file
// that exists cannot be read (a pair file included: merging it as empty
// would replace the master's file with the slave's lines alone) and when an
// output cannot be written; std::runtime_error, before anything is read or
// written, for a TextPairOutputConflict; RunInterrupted when the host is
// shutting down.
void MergeTextLists(const RunSettings& run, const AccountStageProducts& accounts,
                    const CharacterStageProducts& characters, RunServices& services);
// The same on a whole context (tests).
inline void MergeTextLists(RunContext& ctx) { MergeTextLists(ctx, ctx, ctx, ctx); }

}  // namespace razere
