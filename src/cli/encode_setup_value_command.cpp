// razere-cli encode-setup-value: writes a text in the encoded form of the
// [WebService] values of !Setup.txt (AreaKey, SafeKey), so that operators and
// tests can prepare those files. The value key is random; any value key
// decodes, so each call prints a different, equally valid value.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/console_text.h"
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
      PrintText(stderr, "--fill 的值不是字节值（0 到 255，十进制或以 0x 开头的十六进制）：" + o.fill + "\n");
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
  cmd->add_option("TEXT", o->text, "要编码的值（UTF-8）")->required();
  o->fillOption = cmd->add_option("--fill", o->fill, "格式中的填充字节，0 到 255（默认 0）")->type_name("BYTE");
  return [o] { return RunEncode(*o); };
}

}  // namespace razere::cli
