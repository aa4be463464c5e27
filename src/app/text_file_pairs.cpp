#include "app/text_file_pairs.h"

#include <stdexcept>

#include "support/textfile.h"

namespace razere {

namespace {

bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// Blanks and control characters (code 32 and below) at both ends go.
std::string TrimControls(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::vector<TTextFileName> ParseTextFilePairs(const std::vector<std::string>& lines) {
  std::vector<TTextFileName> pairs;
  for (const std::string& raw : lines) {
    std::string line = TrimControls(raw);
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
  if (!ReadTextFile(ctx.PairListFile, file)) return;
  ctx.TextFilePairs = ParseTextFilePairs(file.lines);
}

bool SaveTextFilePairs(const RunContext& ctx) {
  std::vector<std::string> lines;
  lines.reserve(ctx.TextFilePairs.size());
  for (const auto& p : ctx.TextFilePairs) lines.push_back(p.Master + "|" + p.Slave);
  try {
    WriteTextFile(ctx.PairListFile, lines, TextEncoding::Ansi);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TextFilePairExists(const RunContext& ctx, const std::string& master, const std::string& slave) {
  for (const auto& p : ctx.TextFilePairs) {
    if (EqualsIgnoreAsciiCase(p.Master, master) && EqualsIgnoreAsciiCase(p.Slave, slave)) return true;
  }
  return false;
}

void DeleteTextFilePair(RunContext& ctx, size_t index) {
  if (index < ctx.TextFilePairs.size()) ctx.TextFilePairs.erase(ctx.TextFilePairs.begin() + index);
}

std::string TextFilePairDisplay(const TTextFileName& pair) { return pair.Master + " <== " + pair.Slave; }

}  // namespace razere
