// Player shops of a sample installation: Shop.dat and ShopItem.dat.
//
// Shops belong to characters that the installation's Hum.DB, Qel.DB and
// ID.DB all know, apart from a few orphans; the slave reuses some of the
// master's shop names (some in another letter case) so that the merge has
// to rename; items mostly sit in their owner's shop, a few in shops the file
// lacks, and their serials are ordinary with a few extended and repeated
// ones.
#pragma once

#include <filesystem>

#include "gen/generator.h"
#include "gen/model.h"

namespace razere::gen {

// Fills model.shops, model.shopItems and model.shopNames from options.shops
// and options.shopItems, drawing from the side's shop stream only (the rest
// of the model is not changed). The slave needs the master's model, built
// the same way.
void BuildShops(const GenOptions& options, SideModel& model, const SideModel* master);

// Writes Shop.dat and ShopItem.dat at the paths when the model has shops or
// items (nothing otherwise: a server without player shops has no files).
// Counts the records written into stats. Throws FileError on any failure.
void WriteShopFiles(const SideModel& model, const GenOptions& options, const std::filesystem::path& shopFile,
                    const std::filesystem::path& itemFile, double now, ServerStats& stats);

}  // namespace razere::gen
