// razere-cli encode-setup-value: writes a text in the encoded form of the
// [WebService] values of !Setup.txt (AreaKey, SafeKey), so that operators and
// tests can prepare those files. The value key is random; any value key
// decodes, so each call prints a different, equally valid value.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "support/codecs.h"
#include "support/iniprofile.h"

namespace razere::cli {

namespace {

struct EncodeOptions {
  std::string text;
  std::string fill;
  CLI::Option* fillOption = nullptr;
};

int RunEncode(const EncodeOptions& o) {
  uint8_t fill = kDefaultSetupFillByte;
  if (o.fillOption->count() > 0) {
    const std::optional<int32_t> v = ParseIniInt(o.fill);
    if (!v || *v < 0 || *v > 255) {
      std::fprintf(stderr, "--fill: not a byte value (0 to 255, decimal or 0x hexadecimal): %s\n", o.fill.c_str());
      return kExitUsage;
    }
    fill = static_cast<uint8_t>(*v);
  }
  const std::string value = EncodeSetupValue(o.text, RandomSetupValueKey(), fill);
  std::printf("%s\n", value.c_str());
  return std::fflush(stdout) == 0 ? kExitOk : kExitUnexpected;
}

}  // namespace

CommandRunner EncodeSetupValueCommand(CLI::App& command) {
  auto o = std::make_shared<EncodeOptions>();
  CLI::App* cmd = &command;
  cmd->add_option("TEXT", o->text, "The value to encode (UTF-8)")->required();
  o->fillOption = cmd->add_option("--fill", o->fill, "Fill byte of the format, 0 to 255 (default 0)");
  return [o] { return RunEncode(*o); };
}

}  // namespace razere::cli
