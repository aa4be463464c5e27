#include "stages/text_list_merge.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "merge/accounts.h"
#include "merge/item_serials.h"
#include "support/ansi.h"
#include "support/fields.h"
#include "support/file_system.h"
#include "support/text_util.h"

namespace razere {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBlankCommaTab = " ,\t";
constexpr std::string_view kCommaTab = ",\t";
constexpr std::string_view kMergeText = "正在合并文本文件(%d/%d)";

// Files the rest of the run writes into the save folder; a pair output of the
// same name would overwrite one of them or be overwritten.
constexpr std::string_view kOtherSaveFolderNames[] = {
    "ID.DB",        "Hum.DB",         "Qel.DB",
    "HeroQel.DB",   "Shop.dat",       "ShopItem.dat",
    "Email.db",     "GuildBase",      "QueryLog.txt",
    "帐号更改记录.txt", "人物名称更改记录.txt", "行会名称更改记录.txt",
    "新记录.txt",   "合区历史.txt",   "合区未完成.txt",
};

// The name key of a UTF-8 name as the rename maps key it (the name key of
// its GBK form). A name with a character GBK lacks cannot be a name of the
// game; it gets no key.
bool RenameKeyOf(std::string_view utf8, std::string& key) {
  bool lossy = false;
  const std::string gbk = Utf8ToGbk(utf8, &lossy);
  if (lossy || gbk.empty()) return false;
  key = NameKey(gbk);
  return true;
}

// Reads a text file of an installation. False when there is no file; throws
// FileError when something is at the path that cannot be read (a folder, a
// file without read permission, a path whose folders may not be searched).
bool ReadInputFile(const std::string& path, TextFile& out) {
  out = TextFile{};
  if (path.empty()) return false;
  switch (Fs().KindOf(PathFromText(path))) {
    case FileKind::None: return false;
    case FileKind::Folder: throw FileError(FileOp::Read, PathFromText(path), std::strerror(EISDIR));
    default: break;  // Unknown: opening it reports why
  }
  std::string bytes;
  ReadWholeFile(PathFromText(path), bytes);
  out.lines = SplitLines(DecodeText(bytes, out.encoding));
  return true;
}

TItemBindList ReadItemBindFile(const std::string& path) {
  TItemBindList list;
  TextFile file;
  if (ReadInputFile(path, file)) ParseItemBindLines(file.lines, list);
  return list;
}

void ReadRememberItemFile(const std::string& path, TItemEventList& list) {
  TextFile file;
  if (ReadInputFile(path, file)) ParseRememberItemLines(file.lines, list);
}

void ResetBar(RunServices& services, int32_t maximum) {
  services.Bar.SetMax(maximum);
  services.Bar.SetPosition(0);
}

// Old name keys -> positions, in file order, of the entries carrying them.
using NameIndex = std::unordered_map<std::string, std::vector<size_t>>;

void IndexName(NameIndex& index, std::string_view utf8Name, size_t position) {
  std::string key;
  if (RenameKeyOf(utf8Name, key)) index[std::move(key)].push_back(position);
}

// Applies a rename map to a list of bindings, one status step per map entry.
// The index holds the names as read, so a binding is renamed at most once,
// even when a new name is another entry's old name.
void RenameBindings(RunServices& services, const NameRenameMap& renames, TItemBindList& list) {
  NameIndex index;
  for (size_t i = 0; i < list.size(); ++i) IndexName(index, list[i].sBindName, i);
  ResetBar(services, renames.Count());
  for (const auto& node : renames) {
    services.ShowStatusText(1, kMergeText);
    const std::string& newName = node.Item.NewName();
    if (newName.empty()) continue;
    auto it = index.find(std::string(node.Key()));
    if (it == index.end()) continue;
    const std::string utf8 = GbkToUtf8(newName);
    for (size_t i : it->second) list[i].sBindName = utf8;
    index.erase(it);
  }
}

// The character renames of one pair's slave object, indexed before any rename.
struct PairNameIndex {
  TextPairObject* object;
  NameIndex index;
};

PairNameIndex IndexPairNames(TextPairObject& obj) {
  PairNameIndex out{&obj, {}};
  if (obj.ini) {
    const auto& sections = obj.ini->Sections();
    for (int i = 0; i < sections.Count(); ++i) IndexName(out.index, sections.Get(i), static_cast<size_t>(i));
  } else {
    for (size_t i = 0; i < obj.lines.size(); ++i) {
      const std::string& line = obj.lines[i];
      IndexName(out.index, std::string_view(line).substr(0, line.find('\t')), i);
    }
  }
  return out;
}

// INI: the first section of the old name not renamed yet gets the new name.
// Lines: every line whose text before its first TAB (the whole line when it
// has none) is the old name gets the new name in place of that text.
void RenameInPair(PairNameIndex& p, std::string_view key, const std::string& utf8NewName) {
  auto it = p.index.find(std::string(key));
  if (it == p.index.end()) return;
  if (p.object->ini) {
    auto& sections = p.object->ini->Sections();
    const int i = static_cast<int>(it->second.front());
    auto values = std::move(sections.GetObject(i));
    sections.Delete(i);
    sections.InsertObject(i, utf8NewName, std::move(values));
    it->second.erase(it->second.begin());
    if (it->second.empty()) p.index.erase(it);
    return;
  }
  for (size_t i : it->second) {
    std::string& line = p.object->lines[i];
    const size_t tab = line.find('\t');
    line = tab == std::string::npos ? utf8NewName : utf8NewName + line.substr(tab);
  }
  p.index.erase(it);
}

void MapSerial(const ItemSerialMap& map, int32_t& serial) {
  if (const int32_t* to = map.Find(serial)) serial = *to;
}

// Step 4 or 5 of the stage for one side.
void MapSerials(RunServices& services, const ItemSerialMap& map, std::array<TItemBindList*, 3> bindLists,
                TItemEventList& events) {
  for (TItemBindList* list : bindLists) {
    ResetBar(services, static_cast<int32_t>(list->size()));
    for (TItemBind& b : *list) {
      services.ShowStatusText(1, kMergeText);
      MapSerial(map, b.nMakeIdex);
    }
  }
  ResetBar(services, events.Count());
  for (auto& node : events) {
    services.ShowStatusText(1, kMergeText);
    MapSerial(map, node.Item.nMakeIndex);
  }
}

// Reads both files of a pair. They become INI files when either has a
// section header line; otherwise they stay line lists.
void ReadPair(RunServices& services, const TTextFileName& pair, TextPairObject& master, TextPairObject& slave) {
  TextFile m, s;
  ReadInputFile(pair.Master, m);  // a missing file leaves no lines and GBK
  ReadInputFile(pair.Slave, s);
  master.encoding = m.encoding;
  slave.encoding = s.encoding;
  bool ini = false;
  for (const TextFile* f : {&m, &s}) {
    for (const std::string& line : f->lines) {
      if (IsSectionHeaderLine(line)) {
        ini = true;
        break;
      }
    }
    if (ini) break;
  }
  if (ini) {
    const auto pump = [&services] { services.Bar.ProcessEvents(); };
    master.ini = std::make_unique<TMemoryIniFile>(m.lines, pump);
    slave.ini = std::make_unique<TMemoryIniFile>(s.lines, pump);
  } else {
    master.lines = std::move(m.lines);
    slave.lines = std::move(s.lines);
  }
}

}  // namespace

int32_t DecimalOrMinusOne(std::string_view s) { return ParseDecimal(s).value_or(-1); }

void ParseItemBindLines(const std::vector<std::string>& lines, TItemBindList& out) {
  std::string idx, serial, name;
  for (const std::string& raw : lines) {
    const std::string_view line = TrimControls(raw);
    if (line.empty() || line.front() == ';') continue;
    std::string rest = TakeField(line, idx, kBlankCommaTab);
    rest = TakeField(rest, serial, kBlankCommaTab);
    TakeField(rest, name, kBlankCommaTab);
    TItemBind b;
    b.nItemIdx = DecimalOrMinusOne(idx);
    b.nMakeIdex = DecimalOrMinusOne(serial);
    if (b.nItemIdx <= 0 || b.nMakeIdex <= 0 || name.empty()) continue;
    b.sBindName = name;
    out.push_back(std::move(b));
  }
}

void ParseRememberItemLines(const std::vector<std::string>& lines, TItemEventList& out) {
  std::string name, serialText, slotText, map, xText, yText;
  for (const std::string& raw : lines) {
    const std::string_view line = TrimControls(raw);
    if (line.empty() || line.front() == ';') continue;
    std::string rest = TakeField(line, name, kBlankCommaTab);
    rest = TakeField(rest, serialText, kBlankCommaTab);
    rest = TakeField(rest, slotText, kCommaTab);
    rest = TakeField(rest, map, kBlankCommaTab);
    rest = TakeField(rest, xText, kBlankCommaTab);
    TakeField(rest, yText, kBlankCommaTab);
    const int32_t serial = DecimalOrMinusOne(serialText);
    const int32_t slot = DecimalOrMinusOne(slotText);
    const int32_t x = DecimalOrMinusOne(xText);
    const int32_t y = DecimalOrMinusOne(yText);
    if (serial <= 0 || map.empty() || x < 0 || y < 0 || slot < 0 || slot >= kRememberSlots) continue;

    TItemEvent* item = out.Find(serialText);
    if (item == nullptr) {
      TItemEvent fresh;
      fresh.sItemName = name;
      fresh.nMakeIndex = serial;
      char buf[12];
      item = &out.Add(SerialKey(serial, buf), std::move(fresh))->Item;
    }
    TRememberItem& r = item->RememberItem[static_cast<size_t>(slot)];
    r.sMapName = map;
    r.nCurrX = x;
    r.nCurrY = y;
  }
}

std::vector<std::string> ItemBindLines(const TItemBindList& list) {
  std::vector<std::string> lines;
  lines.reserve(list.size());
  for (const TItemBind& b : list) {
    lines.push_back(std::to_string(b.nItemIdx) + "\t" + std::to_string(b.nMakeIdex) + "\t" + b.sBindName);
  }
  return lines;
}

std::vector<std::string> RememberItemLines(const TItemEventList& list) {
  std::vector<std::string> lines;
  for (const auto& node : list) {
    const TItemEvent& e = node.Item;
    for (int slot = 0; slot < kRememberSlots; ++slot) {
      const TRememberItem& r = e.RememberItem[static_cast<size_t>(slot)];
      if (r.sMapName.empty()) continue;
      lines.push_back(e.sItemName + "\t" + std::to_string(e.nMakeIndex) + "\t" + std::to_string(slot) + "\t" +
                      r.sMapName + "\t" + std::to_string(r.nCurrX) + "\t" + std::to_string(r.nCurrY));
    }
  }
  return lines;
}

bool IsSectionHeaderLine(std::string_view line) {
  const std::string_view t = TrimControls(line);
  return t.size() >= 2 && t.front() == '[' && t.back() == ']';
}

std::string PairOutputName(const TTextFileName& pair) {
  const fs::path name = PathFromText(pair.Master).filename();
  if (name.empty() || name == "." || name == "..") return {};
  return TextOfPath(name);
}

std::string TextPairOutputConflict(const RunSettings& run) {
  // Lower-cased output name -> who writes it: a pair's master path, or a
  // file of the run (reserved).
  struct Claim {
    std::string who;
    bool reserved;
  };
  std::unordered_map<std::string, Claim> taken;
  for (std::string_view n : {kItemBindAccountFile, kItemBindChrNameFile, kItemBindIPaddrFile, kRememberItemListFile}) {
    taken.emplace(AsciiLower(n), Claim{std::string(n), true});
  }
  for (std::string_view n : kOtherSaveFolderNames) taken.emplace(AsciiLower(n), Claim{std::string(n), true});
  // The settings files, when the save folder is the program folder.
  const fs::path save = (PathFromText(run.SavePath) / "").lexically_normal();
  for (const std::string* f : {&run.ConfigFile, &run.PairListFile}) {
    if (f->empty()) continue;
    const fs::path p = PathFromText(*f);
    if ((p.parent_path() / "").lexically_normal() == save) {
      taken.emplace(AsciiLower(TextOfPath(p.filename())), Claim{TextOfPath(p.filename()), true});
    }
  }

  for (const TTextFileName& pair : run.TextFilePairs) {
    const std::string name = PairOutputName(pair);
    if (name.empty()) return "合并的文本文件“" + pair.Master + "”没有文件名！";
    auto [it, fresh] = taken.emplace(AsciiLower(name), Claim{pair.Master, false});
    if (fresh) continue;
    if (it->second.reserved) {
      return "合并的文本文件“" + pair.Master + "”与合区生成的文件“" + it->second.who + "”同名，保存时会互相覆盖！";
    }
    return "合并的文本文件“" + it->second.who + "”与“" + pair.Master + "”文件名相同，保存时会互相覆盖！";
  }
  return {};
}

void MergeTextLists(const RunSettings& run, const AccountStageProducts& accounts,
                    const CharacterStageProducts& characters, RunServices& services) {
  if (!accounts.AccountRenames || !characters.CharRenames || !characters.MasterItemSerials || !characters.SlaveItemSerials) {
    throw std::logic_error("MergeTextLists: the rename maps and item serial maps must exist");
  }
  if (std::string conflict = TextPairOutputConflict(run); !conflict.empty()) throw std::runtime_error(conflict);

  // 1.
  services.Bar.ProcessEvents();

  // 2. Everything is read before anything is changed.
  TItemBindList masterAccount = ReadItemBindFile(run.Master.ItemBindAccount);
  TItemBindList slaveAccount = ReadItemBindFile(run.Slave.ItemBindAccount);
  TItemBindList masterIPaddr = ReadItemBindFile(run.Master.ItemBindIPaddr);
  TItemBindList slaveIPaddr = ReadItemBindFile(run.Slave.ItemBindIPaddr);
  TItemBindList masterChrName = ReadItemBindFile(run.Master.ItemBindChrName);
  TItemBindList slaveChrName = ReadItemBindFile(run.Slave.ItemBindChrName);
  TItemEventList masterEvents(kItemEventBuckets);
  TItemEventList slaveEvents(kItemEventBuckets);
  ReadRememberItemFile(run.Master.RememberItemList, masterEvents);
  ReadRememberItemFile(run.Slave.RememberItemList, slaveEvents);

  const size_t pairCount = run.TextFilePairs.size();
  std::vector<TextPairObject> masterPairs(pairCount), slavePairs(pairCount);
  for (size_t i = 0; i < pairCount; ++i) ReadPair(services, run.TextFilePairs[i], masterPairs[i], slavePairs[i]);

  // 3. Account renames: slave account bindings only.
  RenameBindings(services, *accounts.AccountRenames, slaveAccount);

  // 4, 5. Serials, each side with its own map; a serial no item had stays.
  MapSerials(services, *characters.MasterItemSerials, {&masterAccount, &masterIPaddr, &masterChrName}, masterEvents);
  MapSerials(services, *characters.SlaveItemSerials, {&slaveAccount, &slaveIPaddr, &slaveChrName}, slaveEvents);

  // 6. Character renames: slave character bindings and slave pair objects.
  {
    NameIndex bindIndex;
    for (size_t i = 0; i < slaveChrName.size(); ++i) IndexName(bindIndex, slaveChrName[i].sBindName, i);
    std::vector<PairNameIndex> pairIndexes;
    pairIndexes.reserve(pairCount);
    for (TextPairObject& p : slavePairs) pairIndexes.push_back(IndexPairNames(p));

    ResetBar(services, characters.CharRenames->Count());
    for (const auto& node : *characters.CharRenames) {
      services.ShowStatusText(1, kMergeText);
      const std::string& newName = node.Item.NewName();
      if (newName.empty()) continue;
      const std::string utf8 = GbkToUtf8(newName);
      const std::string key(node.Key());
      if (auto it = bindIndex.find(key); it != bindIndex.end()) {
        for (size_t i : it->second) slaveChrName[i].sBindName = utf8;
        bindIndex.erase(it);
      }
      for (PairNameIndex& p : pairIndexes) RenameInPair(p, key, utf8);
    }
  }

  // 7. Slave entries after the master's.
  for (auto [to, from] : {std::pair{&masterAccount, &slaveAccount}, std::pair{&masterIPaddr, &slaveIPaddr},
                          std::pair{&masterChrName, &slaveChrName}}) {
    to->insert(to->end(), std::make_move_iterator(from->begin()), std::make_move_iterator(from->end()));
    from->clear();
  }
  for (auto& node : slaveEvents) masterEvents.Add(node.Key(), std::move(node.Item));
  slaveEvents.Clear();

  // 8. Pairs: slave sections after the master's, or slave lines after the master's.
  for (size_t i = 0; i < pairCount; ++i) {
    TextPairObject& m = masterPairs[i];
    TextPairObject& s = slavePairs[i];
    if (m.ini) {
      auto& from = s.ini->Sections();
      auto& to = m.ini->Sections();
      for (int k = 0; k < from.Count(); ++k) to.AddObject(from.Get(k), std::move(from.GetObject(k)));
      from.Clear();
    } else {
      m.lines.insert(m.lines.end(), std::make_move_iterator(s.lines.begin()), std::make_move_iterator(s.lines.end()));
      s.lines.clear();
    }
  }

  // 9. Output. The lists are GBK; a pair keeps the encoding of its master
  // file, so text the merge leaves alone keeps its bytes.
  auto write = [&run](std::string_view name, const std::vector<std::string>& lines, TextEncoding enc) {
    WriteTextFile(PathFromText(run.SavePath + std::string(name)), lines, enc);
  };
  write(kItemBindIPaddrFile, ItemBindLines(masterIPaddr), TextEncoding::Ansi);
  write(kItemBindChrNameFile, ItemBindLines(masterChrName), TextEncoding::Ansi);
  write(kItemBindAccountFile, ItemBindLines(masterAccount), TextEncoding::Ansi);
  write(kRememberItemListFile, RememberItemLines(masterEvents), TextEncoding::Ansi);
  for (size_t i = 0; i < pairCount; ++i) {
    TextPairObject& m = masterPairs[i];
    const std::string name = PairOutputName(run.TextFilePairs[i]);
    if (m.ini) {
      write(name, m.ini->SaveToLines(), m.encoding);
    } else {
      write(name, m.lines, m.encoding);
    }
  }
  // 10. Every list and object of the stage goes with this scope.
}

}  // namespace razere
