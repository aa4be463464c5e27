// New names for slave accounts, characters, heroes, guilds and shops whose
// name is already taken on the merged side: the old name cut short plus one to
// four letters a..z.
//
// Names are GBK byte strings throughout. Two names are the same when their
// name keys are equal (support/ansi.h NameKey; for guilds, whose names are
// file names, FileNameKey), so candidates that differ from a taken name only
// in letter case are taken too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "support/ansi.h"

namespace razere {

// Bytes of the old name kept in pass 1; the result is at most one byte longer.
inline constexpr int32_t kAccountNameKeep = 9;   // new account names: <= 10 bytes
inline constexpr int32_t kCharNameKeep = 29;     // characters, heroes, guilds, shops: <= 30 bytes

// Candidates tried in all: 26 + 26^2 + 26^3 + 26^4.
inline constexpr int32_t kUniqueNameCandidates = 475254;

// The first MaxBytes bytes of Source, or MaxBytes - 1 when the byte at
// 1-based position MaxBytes is the lead byte of a double-byte character
// (bytes are classified from the start of Source). Source is returned
// unchanged when it is shorter than MaxBytes; MaxBytes <= 0 gives "".
std::string TruncateAnsiName(std::string_view Source, int32_t MaxBytes);

// Asks whether a name key is in a name set.
using NameTakenFn = std::function<bool(std::string_view nameKey)>;

// The key two names are the same under: NameKey, or FileNameKey for names
// that become file names (support/ansi.h). Must leave the suffix letters
// a..z alone and look at no byte past the character it folds.
using NameKeyFn = std::string (*)(std::string_view gbkName);

// Pass k = 1..4: prefix := TruncateAnsiName(Source, L0 - (k - 1)), then the
// k-letter suffixes aa..zz in dictionary order; the first candidate whose name
// key (keyOf) is in neither set is stored in NewName and true returned. When
// all kUniqueNameCandidates are taken, NewName is the pass-4 prefix + "zzzz"
// and the result is false; callers must not use that name (see
// ThrowNoFreeName).
bool MakeUniqueName(std::string_view Source, int32_t L0, const NameTakenFn& inSetA, const NameTakenFn& inSetB,
                    std::string& NewName, NameKeyFn keyOf = NameKey);

// What is being renamed, for the message of a failed search.
enum class NameInstance { Account, Character, Hero, Guild, Shop };

// Ends the run: every candidate name for gbkName is taken. The message names
// the instance and the old name (decoded to UTF-8).
[[noreturn]] void ThrowNoFreeName(NameInstance instance, std::string_view gbkName);

// MakeUniqueName, throwing ThrowNoFreeName instead of returning a duplicate.
std::string MakeUniqueNameOrThrow(NameInstance instance, std::string_view Source, int32_t L0,
                                  const NameTakenFn& inSetA, const NameTakenFn& inSetB, NameKeyFn keyOf = NameKey);

}  // namespace razere
