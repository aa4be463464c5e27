// Writes a side model as the files of an installation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "gen/generator.h"
#include "gen/model.h"

namespace razere::gen {

// Writes ID.DB, Hum.DB, Qel.DB, HeroQel.DB, !Setup.txt, Shop.dat,
// ShopItem.dat and Email.db at the paths of `paths`, and the guild folder. Items
// are drawn here, from the side's item stream.
ServerStats WriteServerFiles(const SideModel& model, const GenOptions& options, const ServerPaths& paths,
                             double now);

}  // namespace razere::gen
