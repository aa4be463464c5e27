// TMemoryIniFile: a sectioned text file held in memory and written back.
//
// Only loading from lines, the section list and saving exist; there is no
// lookup of single values. Duplicates are kept everywhere: two sections of one
// name, or two items of one name in a section, stay separate in their order.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/sort_string_list.h"
#include "support/textfile.h"

namespace razere {

struct TValueItem {
  std::string FName;
  std::string FString;       // the value
  void* FObject = nullptr;   // always empty in INI sections
};

// The name/value items of one section, in insertion order.
class TIniValueList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // 0 <= i < Count(), else std::out_of_range.
  const TValueItem& Items(int i) const { return items_.at(Checked(i)); }
  const std::string& Names(int i) const { return items_.at(Checked(i)).FName; }
  const std::string& Values(int i) const { return items_.at(Checked(i)).FString; }

  // Appends (the list is never sorted), then raises OnChange.
  void AddObject(std::string AName, std::string S, void* AObject = nullptr);
  void Clear();

  // Called after every change. The file object does not set it: sections
  // move between files, so a list keeps no link to the file holding it.
  std::function<void()> OnChange;

 private:
  size_t Checked(int i) const;
  std::vector<TValueItem> items_;
};

class TMemoryIniFile {
 public:
  using TSectionList = TQuickSortList<std::unique_ptr<TIniValueList>>;

  // Parses FileList (UTF-8 lines): after the leading characters up to code 32
  // are removed, a line "[name]..." starts section "name" (text after the
  // first "]" ignored); inside a section a line "name=value" adds an item
  // (split at the first "=", nothing trimmed). Lines before the first
  // section, empty lines, ";" comments and lines without "=" are dropped.
  // Sections are then sorted by name in text order; items keep file order.
  // pump is called after every 100th line and during the sort.
  explicit TMemoryIniFile(const std::vector<std::string>& FileList, const std::function<void()>& pump = {});

  // One item per section: text = section name, object = its items. The file
  // owns the lists it holds; moving the objects into another file's Sections
  // transfers them (a null object is saved as a section without items).
  TSectionList& Sections() { return sections_; }
  const TSectionList& Sections() const { return sections_; }

  // The lines SaveToFile writes: per section "[name]" then "name=value" per
  // item; a section whose name is empty or starts with ";" is written as its
  // name alone, without its items.
  std::vector<std::string> SaveToLines() const;
  // Writes SaveToLines() with CRLF line ends, replacing the file atomically;
  // throws std::runtime_error on failure (Changed() then stays as it was).
  void SaveToFile(const std::filesystem::path& AFileName, TextEncoding enc = TextEncoding::Ansi);

  bool LoadOK() const { return FLoadOK; }
  // Set when loading added sections or items, or by MarkChanged; cleared by
  // a successful SaveToFile. Edits made directly on Sections() do not set it.
  bool Changed() const { return FChanged; }
  void MarkChanged();
  const std::string& FileName() const { return FFileName; }

  // Called after the changed flag is set.
  std::function<void(TMemoryIniFile&)> OnChange;

 private:
  bool FLoadOK = false;
  bool FChanged = false;
  std::string FFileName;
  TSectionList sections_;
};

}  // namespace razere
