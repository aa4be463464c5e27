// The consignment-sale merge request: the area keys and credentials read from
// the servers' !Setup.txt, the signed JSON request that asks the operator's
// web service to merge the slave's area into the master's, and its exchange.
//
// Settings of the merger itself, in its Config.ini, section [WebService]:
//   Host      "host" or "host:port" of the service (default kDefaultWebServiceHost)
//   FillByte  fill byte of the encoded values' chaining value, 0..255, decimal
//             or 0x hexadecimal (default kDefaultSetupFillByte)
// The settings writer never writes these keys; they are the operator's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "remote/http_client.h"
#include "support/codecs.h"

namespace razere {

inline constexpr std::string_view kDefaultWebServiceHost = "127.0.0.1";
// Path and query start of the merge endpoint; the signature follows.
inline constexpr std::string_view kAreaMergePath = "/api.GameArea/areaMerge?sign=";
inline constexpr int64_t kWebConnectTimeoutMs = 5'000;
inline constexpr int64_t kWebResponseTimeoutMs = 600'000;
inline constexpr std::string_view kWebUserAgent = "DERAREVADIDIdezed v1.0";

struct WebServiceOptions {
  std::string Host{kDefaultWebServiceHost};
  uint8_t FillByte = kDefaultSetupFillByte;
  int64_t ConnectTimeoutMs = kWebConnectTimeoutMs;
  int64_t ResponseTimeoutMs = kWebResponseTimeoutMs;
};

// Host and FillByte from a Config.ini; a missing file, key, or a value out of
// range gives the default.
WebServiceOptions ReadWebServiceOptions(const std::filesystem::path& configFile);

// The operator's identity and signing key at the service (master only). The
// key is a secret: it is never logged or written anywhere.
struct WebServiceCredentials {
  int32_t SafeId = 0;
  std::string SafeKey;  // UTF-8
};

// AreaKey of section [WebService] of a !Setup.txt, decoded. With credentials
// set it also reads SafeId and SafeKey (decoded) into *credentials, and the
// result is "" when SafeId <= 0 or SafeKey is empty, whatever AreaKey holds.
// "" means that no area key was found.
std::string ReadAreaKey(const std::filesystem::path& SetupFile, WebServiceCredentials* credentials,
                        uint8_t fillByte = kDefaultSetupFillByte);

// A slave character that the merge renamed.
struct RenamedRole {
  int32_t roleId = 0;
  std::string newName;  // UTF-8
};

// The request object, members in the order the service's text has them:
// {"uid":..,"area_main_key":..,"area_keys":[{"key":..,"names":[{"new":..,"role_id":..},..]}],"timestamp":..}
// Roles with roleId <= 0 or an empty new name are left out; "names" is there
// even when empty.
nlohmann::ordered_json BuildAreaMergeRequest(std::string_view masterAreaKey, std::string_view slaveAreaKey,
                                             const std::vector<RenamedRole>& roles, int32_t safeId,
                                             int64_t timestamp);

// The local wall-clock time of a date-time (support/datetime.h) in whole
// seconds since 1970-01-01 00:00 read as if it were UTC.
int64_t RequestTimestamp(double localDateTime);

// The date-time of a log line: "2026/12/10 9:05:07".
std::string LogDateTimeText(double localDateTime);

// Sends R and returns when the service confirms the merge (answer code 200).
// Appends its lines to log: the URL, the body, then the answer or the error
// status. Throws std::runtime_error with the message to show on every
// failure (HttpClientError for connection and time-out failures).
void WebCallBack(const nlohmann::ordered_json& R, const WebServiceCredentials& credentials,
                 const WebServiceOptions& options, std::vector<std::string>& log);

// The answer half of WebCallBack: returns when the answer confirms the merge,
// else appends the error status (when there is one) and throws
// std::runtime_error with the message to show. The answer's bytes come from
// outside: any body, however malformed, ends in one of those two ways.
void CheckAreaMergeAnswer(const HttpAnswer& answer, std::vector<std::string>& log);

}  // namespace razere
