#include "app/web_merge_stage.h"

#include "merge/accounts.h"
#include "support/ansi.h"
#include "support/datetime.h"

namespace razere {

std::vector<RenamedRole> RenamedRoles(const NameRenameMap* CharRenames) {
  std::vector<RenamedRole> roles;
  if (CharRenames == nullptr) return roles;
  roles.reserve(static_cast<size_t>(CharRenames->Count()));
  for (const auto& node : *CharRenames) {
    const CharIndexEntry* entry = node.Item.character;
    if (entry == nullptr) continue;
    roles.push_back(RenamedRole{entry->roleId, GbkToUtf8(entry->newName)});
  }
  return roles;
}

std::string ReadAreaKey(RunContext& ctx, const std::string& setupFile, bool withCredentials) {
  const uint8_t fill = ReadWebServiceOptions(ctx.ConfigFile).FillByte;
  if (!withCredentials) return ReadAreaKey(setupFile, nullptr, fill);
  WebServiceCredentials credentials;
  std::string key = ReadAreaKey(setupFile, &credentials, fill);
  ctx.SafeId = credentials.SafeId;
  ctx.SafeKey = std::move(credentials.SafeKey);
  return key;
}

void WebMerge(RunContext& ctx, const WebServiceOptions& options) {
  if (!ctx.HTTPQueryLog) ctx.HTTPQueryLog = std::make_shared<std::vector<std::string>>();
  const nlohmann::ordered_json request =
      BuildAreaMergeRequest(ctx.Master.AreaKey, ctx.Slave.AreaKey, RenamedRoles(ctx.CharRenames.get()), ctx.SafeId,
                            RequestTimestamp(NowDateTime()));
  WebCallBack(request, WebServiceCredentials{ctx.SafeId, ctx.SafeKey}, options, *ctx.HTTPQueryLog);
}

void WebMerge(RunContext& ctx) { WebMerge(ctx, ReadWebServiceOptions(ctx.ConfigFile)); }

}  // namespace razere
