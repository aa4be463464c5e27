// The extra text-file pairs and their list file TextFileName.txt: one pair
// per line, "master|slave", GBK with CRLF.
#pragma once

#include <string>
#include <vector>

#include "merge/run_context.h"

namespace razere {

// Parses the lines of a pair list: trimmed of blanks and control characters,
// ";" lines and lines without a non-empty part on each side of the first "|"
// skipped. Blanks next to the "|" stay part of the paths.
std::vector<TTextFileName> ParseTextFilePairs(const std::vector<std::string>& lines);

// Replaces ctx.TextFilePairs with the pairs of ctx.PairListFile (empty when
// the file is missing or unreadable).
void LoadTextFilePairs(RunContext& ctx);
// Writes every pair to ctx.PairListFile; false when the file could not be written.
bool SaveTextFilePairs(const RunContext& ctx);
// A pair with the same master and slave, compared ignoring ASCII letter case.
bool TextFilePairExists(const RunContext& ctx, const std::string& master, const std::string& slave);
void DeleteTextFilePair(RunContext& ctx, size_t index);
// The display line: master " <== " slave.
std::string TextFilePairDisplay(const TTextFileName& pair);

}  // namespace razere
