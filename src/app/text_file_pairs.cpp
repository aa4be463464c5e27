#include "app/text_file_pairs.h"

#include <stdexcept>

#include "support/file_system.h"
#include "support/text_util.h"
#include "support/textfile.h"

namespace razere {

std::vector<TTextFileName> ParseTextFilePairs(const std::vector<std::string>& lines) {
  std::vector<TTextFileName> pairs;
  for (const std::string& raw : lines) {
    const std::string line(TrimControls(raw));
    if (line.empty() || line[0] == ';') continue;
    size_t bar = line.find('|');
    if (bar == std::string::npos || bar == 0 || bar + 1 == line.size()) continue;
    pairs.push_back({line.substr(0, bar), line.substr(bar + 1)});
  }
  return pairs;
}

void LoadTextFilePairs(RunContext& ctx) {
  ctx.TextFilePairs.clear();
  TextFile file;
  if (!ReadTextFile(PathFromText(ctx.PairListFile), file)) return;
  ctx.TextFilePairs = ParseTextFilePairs(file.lines);
}

bool SaveTextFilePairs(const RunContext& ctx) {
  std::vector<std::string> lines;
  lines.reserve(ctx.TextFilePairs.size());
  for (const auto& p : ctx.TextFilePairs) lines.push_back(p.Master + "|" + p.Slave);
  try {
    WriteTextFile(PathFromText(ctx.PairListFile), lines, TextEncoding::Ansi);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TextFilePairExists(const RunContext& ctx, const std::string& master, const std::string& slave) {
  for (const auto& p : ctx.TextFilePairs) {
    if (EqualsIgnoringAsciiCase(p.Master, master) && EqualsIgnoringAsciiCase(p.Slave, slave)) return true;
  }
  return false;
}

void DeleteTextFilePair(RunContext& ctx, size_t index) {
  if (index < ctx.TextFilePairs.size()) ctx.TextFilePairs.erase(ctx.TextFilePairs.begin() + index);
}

std::string TextFilePairDisplay(const TTextFileName& pair) { return pair.Master + " <== " + pair.Slave; }

}  // namespace razere
