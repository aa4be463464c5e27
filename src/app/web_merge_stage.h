// The driver's two consignment-sale steps on RunContext: reading the area
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

// ReadAreaKey on a side's !Setup.txt with the fill byte of ctx.ConfigFile;
// with credentials it fills ctx.SafeId and ctx.SafeKey.
std::string ReadAreaKey(RunContext& ctx, const std::string& setupFile, bool withCredentials);

// Builds the request from Master.AreaKey, Slave.AreaKey, CharRenames, SafeId
// and the current time, and sends it; lines go to ctx.HTTPQueryLog (created
// when missing). Throws with the message to show when the merge failed.
void WebMerge(RunContext& ctx, const WebServiceOptions& options);
// The same with the options of ctx.ConfigFile.
void WebMerge(RunContext& ctx);

}  // namespace razere
