#include "support/memini.h"

#include <stdexcept>

namespace razere {

void TIniValueList::AddObject(std::string AName, std::string S, void* AObject) {
  items_.push_back(TValueItem{std::move(AName), std::move(S), AObject});
  if (OnChange) OnChange();
}

void TIniValueList::Clear() {
  items_.clear();
  if (OnChange) OnChange();
}

size_t TIniValueList::Checked(int i) const {
  if (i < 0 || i >= Count()) throw std::out_of_range("TIniValueList index out of range");
  return static_cast<size_t>(i);
}

TMemoryIniFile::TMemoryIniFile(const std::vector<std::string>& FileList, const std::function<void()>& pump) {
  FLoadOK = false;
  TIniValueList* current = nullptr;
  size_t lineNo = 0;
  for (const std::string& raw : FileList) {
    std::string_view line(raw);
    size_t skip = 0;
    while (skip < line.size() && static_cast<unsigned char>(line[skip]) <= 32) ++skip;
    line.remove_prefix(skip);

    const size_t close = line.find(']');
    if (!line.empty() && line[0] == '[' && close != std::string_view::npos) {
      auto section = std::make_unique<TIniValueList>();
      current = section.get();
      sections_.AddObject(std::string(line.substr(1, close - 1)), std::move(section));
      MarkChanged();
    } else if (current && !line.empty() && line[0] != ';') {
      const size_t eq = line.find('=');
      if (eq != std::string_view::npos) {
        current->AddObject(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
        MarkChanged();
      }
    }
    if (++lineNo % 100 == 0 && pump) pump();
  }
  sections_.SortString(0, sections_.Count() - 1, pump);
  FLoadOK = true;
}

void TMemoryIniFile::MarkChanged() {
  FChanged = true;
  if (OnChange) OnChange(*this);
}

std::vector<std::string> TMemoryIniFile::SaveToLines() const {
  std::vector<std::string> lines;
  for (int i = 0; i < sections_.Count(); ++i) {
    const std::string& name = sections_.Get(i);
    if (name.empty() || name[0] == ';') {
      lines.push_back(name);
      continue;
    }
    lines.push_back("[" + name + "]");
    const TIniValueList* values = sections_.GetObject(i).get();
    if (!values) continue;
    for (int k = 0; k < values->Count(); ++k) {
      const TValueItem& item = values->Items(k);
      lines.push_back(item.FName + "=" + item.FString);
    }
  }
  return lines;
}

void TMemoryIniFile::SaveToFile(const std::filesystem::path& AFileName, TextEncoding enc) {
  WriteTextFile(AFileName, SaveToLines(), enc);
  FChanged = false;
}

}  // namespace razere
