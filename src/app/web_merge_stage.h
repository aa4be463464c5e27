// The driver's two consignment-sale steps: reading the area
// keys before a run (with the master's credentials) and sending the merge
// request after the file merges.
#pragma once

#include <string>
#include <vector>

#include "merge/run_context.h"
#include "remote/area_merge.h"

namespace razere {

struct NameRenameMap;

// Every renamed character of CharRenames (null: none), in the map's order,
// its new name read from GBK. Which of them the request carries is
// BuildAreaMergeRequest's rule.
std::vector<RenamedRole> RenamedRoles(const NameRenameMap* CharRenames);

// ReadAreaKey on a side's !Setup.txt with the fill byte of run.ConfigFile;
// with credentials it fills sale.SafeId and sale.SafeKey.
std::string ReadAreaKey(const RunSettings& run, ConsignmentSaleState& sale, const std::string& setupFile,
                        bool withCredentials);

// Builds the request from Master.AreaKey, Slave.AreaKey, CharRenames, SafeId
// and the current time, and sends it; lines go to sale.HTTPQueryLog (created
// when missing). Throws with the message to show when the merge failed.
void WebMerge(const RunSettings& run, const CharacterStageProducts& characters, ConsignmentSaleState& sale,
              const WebServiceOptions& options);
// The same on a whole context, with the options of its ConfigFile.
void WebMerge(RunContext& ctx);

}  // namespace razere
