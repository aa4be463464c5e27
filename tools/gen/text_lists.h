// The text lists of a sample installation, in Qel200/Envir/:
// ItemBindAccount.txt, ItemBindChrName.txt, ItemBindIPaddr.txt and
// RememberItemList.txt.
//
// Bindings and remembered positions name items that the installation's
// Qel.DB really holds (their serials are read back from the file just
// written), bound to the owning character or its account; a few entries name
// an item no character has any more, some spell a name in another letter
// case, and each file carries the comment, blank and malformed lines that
// hand-kept lists have. The slave's ItemBindChrName.txt is UTF-8 with a
// byte-order mark (edited in another editor); every other list is GBK.
#pragma once

#include "gen/generator.h"
#include "gen/model.h"

namespace razere::gen {

// The largest number of Qel.DB records read back for item serials.
inline constexpr int kTextListRecordsScanned = 48;

// Writes the four lists below paths.QelServer. The lists draw from their own
// random stream, so the other files of the installation do not change with
// them. With no live character holding an item, the lists hold only their
// comment and malformed lines. Throws FileError on any failure.
void WriteTextLists(const SideModel& model, const GenOptions& options, const ServerPaths& paths);

}  // namespace razere::gen
