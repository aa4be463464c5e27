#include "remote/area_merge.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "remote/http_client.h"
#include "remote/json_text.h"
#include "support/datetime.h"
#include "support/iniprofile.h"

namespace razere {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kSection = "WebService";

std::string TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

// The decimal text of an integer member, or "" when it is no integer.
std::string IntegerText(const Json& v) {
  if (v.is_number_unsigned()) return std::to_string(v.get<uint64_t>());
  if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
  return {};
}

std::string NowText() { return LogDateTimeText(NowDateTime()); }

}  // namespace

WebServiceOptions ReadWebServiceOptions(const std::filesystem::path& configFile) {
  WebServiceOptions o;
  const IniProfile ini(configFile);
  std::string host = TrimBlanks(ini.ReadString(kSection, "Host", ""));
  if (!host.empty()) o.Host = std::move(host);
  const std::optional<int32_t> fill = ParseIniInt(ini.ReadString(kSection, "FillByte", ""));
  if (fill && *fill >= 0 && *fill <= 255) o.FillByte = static_cast<uint8_t>(*fill);
  return o;
}

std::string ReadAreaKey(const std::filesystem::path& SetupFile, WebServiceCredentials* credentials, uint8_t fillByte) {
  const IniProfile ini(SetupFile);
  std::string areaKey = DecodeSetupValue(ini.ReadString(kSection, "AreaKey", ""), fillByte);
  if (credentials != nullptr) {
    credentials->SafeId = ini.ReadInt(kSection, "SafeId", 0);
    credentials->SafeKey = DecodeSetupValue(ini.ReadString(kSection, "SafeKey", ""), fillByte);
    if (credentials->SafeId <= 0 || credentials->SafeKey.empty()) return {};
  }
  return areaKey;
}

Json BuildAreaMergeRequest(std::string_view masterAreaKey, std::string_view slaveAreaKey,
                           const std::vector<RenamedRole>& roles, int32_t safeId, int64_t timestamp) {
  Json names = Json::array();
  for (const RenamedRole& r : roles) {
    if (r.roleId <= 0 || r.newName.empty()) continue;
    Json entry = Json::object();
    entry["new"] = r.newName;
    entry["role_id"] = r.roleId;
    names.push_back(std::move(entry));
  }
  Json area = Json::object();
  area["key"] = std::string(slaveAreaKey);
  area["names"] = std::move(names);

  Json root = Json::object();
  root["uid"] = safeId;
  root["area_main_key"] = std::string(masterAreaKey);
  root["area_keys"] = Json::array({std::move(area)});
  root["timestamp"] = timestamp;
  return root;
}

int64_t RequestTimestamp(double localDateTime) {
  const std::optional<DateTimeParts> p = DecodeDateTime(localDateTime);
  if (!p) return 0;
  const auto days = static_cast<int64_t>(std::llround(EncodeDateTime(p->year, p->month, p->day) -
                                                      EncodeDateTime(1970, 1, 1)));
  return days * 86'400 + int64_t{p->hour} * 3'600 + int64_t{p->minute} * 60 + p->second;
}

std::string LogDateTimeText(double localDateTime) {
  const DateTimeParts p = DecodeDateTime(localDateTime).value_or(DateTimeParts{});
  char text[64];
  std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return text;
}

void WebCallBack(const Json& R, const WebServiceCredentials& credentials, const WebServiceOptions& options,
                 std::vector<std::string>& log) {
  if (credentials.SafeId <= 0 || credentials.SafeKey.empty()) {
    throw std::runtime_error("寄买卖安全通迅密钥获取失败！");
  }
  HttpPostRequest request;
  request.body = WriteJsonText(R);  // pure ASCII: its UTF-8 and GBK bytes agree
  const std::string sign = MD5Hex(credentials.SafeKey + request.body);
  request.url = "http://" + options.Host + std::string(kAreaMergePath) + sign;
  request.headers = {"Accept: application/json", "Accept-Charset: utf-8",
                     "Content-Type: application/json; charset=utf-8"};
  request.userAgent = std::string(kWebUserAgent);
  request.connectTimeoutMs = options.ConnectTimeoutMs;
  request.responseTimeoutMs = options.ResponseTimeoutMs;

  log.push_back(NowText() + " URL: " + request.url);
  log.push_back(NowText() + " POST: " + request.body);

  CheckAreaMergeAnswer(HttpPost(request), log);
}

void CheckAreaMergeAnswer(const HttpAnswer& answer, std::vector<std::string>& log) {
  if (answer.status == 0) throw std::runtime_error("返回的数据为空！");
  if (answer.status != 200) {
    const std::string status = std::to_string(answer.status) + ") " + answer.statusText;
    log.push_back(NowText() + " Error: " + status);
    throw std::runtime_error("错误代码：(" + status);
  }
  if (!answer.contentEncoding.empty()) {
    throw std::runtime_error("未支持的压缩格式类型：" + answer.contentEncoding);
  }

  Json reply;
  try {
    reply = Json::parse(answer.body);
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(std::string("返回的数据格式错误：") + e.what());
  }
  log.push_back(NowText() + " Response: " + WriteJsonText(reply));

  // A missing or non-integer code reads as 0.
  std::string code = "0";
  const Json* msg = nullptr;
  if (reply.is_object()) {
    if (auto it = reply.find("code"); it != reply.end() && !IntegerText(*it).empty()) code = IntegerText(*it);
    if (auto it = reply.find("msg"); it != reply.end() && it->is_string()) msg = &*it;
  }
  if (code == "200") return;
  if (msg != nullptr && !msg->get_ref<const std::string&>().empty()) {
    throw std::runtime_error(msg->get<std::string>());
  }
  throw std::runtime_error("未知的错误代码：(" + code + ")");
}

}  // namespace razere
