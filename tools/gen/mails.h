// The mail store of a sample installation: Email.db (Qel200/Envir/UserData/),
// in the file database format with 10,847-byte mail payloads.
//
// Mails go mostly to characters that the merger loads (some spelled in
// another letter case), a few to characters deleted since, to heroes and to
// names nobody has; a few slots are free or placeholders, as a running
// server leaves them. About half are unread; many carry attachments: items
// whose serials lie within the installation's counters (a few 0, some
// extended, now and then one repeated) and other kinds (gold and the like).
// Once the installation has at least kMailFeatures mails, every kind of
// mail the merge tells apart is there at least once.
#pragma once

#include <cstdint>
#include <filesystem>

#include "gen/generator.h"
#include "gen/model.h"

namespace razere::gen {

inline constexpr int32_t kMailFeatures = 10;

// Writes options.mails mail slots to emailFile (no file with 0 mails). Item
// serials stay within stats.itemNumber / stats.itemNumberEx, so call this
// after the counters are set. The mails draw from their own random stream,
// so the other files of the installation do not change with them. Sets
// stats.mailRecords. Throws FileError on any failure.
void WriteMailFile(const SideModel& model, const GenOptions& options, const std::filesystem::path& emailFile,
                   double now, ServerStats& stats);

}  // namespace razere::gen
