#include "cli/chinese_help.h"

#include <regex>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "app/build_tag.h"
#include "cli/console_text.h"

namespace razere::cli {

namespace {

// The command the user was in when the error came: the root, or the deepest
// subcommand already named on the line.
const CLI::App* CommandInUse(const CLI::App& root) {
  const CLI::App* app = &root;
  for (std::vector<CLI::App*> selected = app->get_subcommands(); !selected.empty();
       selected = app->get_subcommands()) {
    app = selected.front();
  }
  return app;
}

// "razere-cli merge": the command as typed, for the hint to its help.
std::string CommandLineName(const CLI::App* app) {
  std::string name = app->get_name();
  for (const CLI::App* p = app->get_parent(); p != nullptr; p = p->get_parent()) name = p->get_name() + " " + name;
  return name;
}

std::string SubcommandNames(const CLI::App& app) {
  std::string names;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    names += (names.empty() ? "" : "、") + sub->get_name();
  }
  return names;
}

// Columns a terminal gives text: Chinese characters take two, and every
// character beyond ASCII here is one of them (UTF-8 lead bytes counted).
size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) ++width;
    else if (b >= 0xC0) width += 2;
  }
  return width;
}

class ChineseFormatter : public CLI::Formatter {
 public:
  // Option groups by their labels too: the default group "Options" is fixed
  // into each help flag when its command is made, before any default applies.
  std::string make_group(std::string group, bool is_positional, std::vector<const CLI::Option*> opts) const override {
    return CLI::Formatter::make_group(get_label(group), is_positional, std::move(opts));
  }

  // As CLI11 lays an option out, but padded by columns, not bytes: the
  // descriptions stay in one column after a Chinese label ("--out DIR 必需").
  std::string make_option(const CLI::Option* opt, bool is_positional) const override {
    const std::string name = "  " + make_option_name(opt, is_positional) + make_option_opts(opt);
    const std::string indent(column_width_, ' ');
    std::string out = name;
    const std::string description = make_option_desc(opt);
    if (!description.empty()) {
      const size_t width = DisplayWidth(name);
      out += width >= column_width_ ? "\n" + indent : std::string(column_width_ - width, ' ');
      for (const char c : description) {
        out += c;
        if (c == '\n') out += indent;
      }
    }
    return out + "\n";
  }
};

// The error's class: its name is not one, an error raised inside a
// subcommand carries the subcommand's name instead.
using KindTest = bool (*)(const CLI::Error&);
template <typename T>
bool Is(const CLI::Error& e) {
  return dynamic_cast<const T*>(&e) != nullptr;
}

// CLI11's messages, kind by kind, as its version 2 words them: a pattern
// over the English text and the Chinese built from the pattern's groups
// ($1...). The first match wins.
struct Wording {
  KindTest kind;
  const char* pattern;
  const char* chinese;
};

constexpr Wording kWordings[] = {
    {Is<CLI::ExtrasError>, R"(The following arguments? (?:was|were) not expected: (.*))", "无法识别的参数：$1"},
    {Is<CLI::RequiredError>, R"((.+) is required)", "缺少 $1"},
    {Is<CLI::RequiredError>, R"(Requires at least (\d+) subcommands)", "至少需要 $1 个命令"},
    {Is<CLI::ConversionError>, R"(Could not convert: (.+?) = (.*))", "$1 的值无效：$2"},
    {Is<CLI::ConversionError>, R"(The value (.+) is not an allowed value for (.+))", "$2 不接受值 $1"},
    {Is<CLI::ConversionError>, R"((.+): too many inputs for a flag)", "$1 是开关，不带值"},
    {Is<CLI::ConversionError>, R"((.+): Should be true/false or a number)", "$1 的值只能是 1 或 0"},
    {Is<CLI::ValidationError>, R"((.+?): (.*) not in (\{.*\}))", "$1 的值 $2 无效，可用的值：$3"},
    {Is<CLI::ValidationError>, R"((.+?): (.*))", "$1 的值无效"},
    {Is<CLI::ArgumentMismatch>, R"((.+): \d+ required (\S+) missing)", "$1 缺少值（$2）"},
    {Is<CLI::ArgumentMismatch>, R"(Expected exactly (\d+) arguments to (.+), got (\d+))", "$2 需要 $1 个值，得到 $3 个"},
    {Is<CLI::ArgumentMismatch>, R"(Expected at least (\d+) arguments to (.+), got (\d+))", "$2 至少需要 $1 个值，得到 $3 个"},
    {Is<CLI::ArgumentMismatch>, R"((.+): At least (\d+) required but received (\d+))", "$1 至少需要 $2 个值，得到 $3 个"},
    {Is<CLI::ArgumentMismatch>, R"((.+): At Most (\d+) required but received (\d+))", "$1 最多接受 $2 个值，得到 $3 个"},
    {Is<CLI::ArgumentMismatch>, R"((.+) was given a disallowed flag override)", "$1 不接受 = 后的值"},
    {Is<CLI::RequiresError>, R"((.+) requires (.+))", "$1 需要同时给出 $2"},
    {Is<CLI::ExcludesError>, R"((.+) excludes (.+))", "$1 不能与 $2 同时使用"},
};

}  // namespace

std::string ChineseUsageError(const CLI::App& app, const CLI::Error& e) {
  const std::string what = e.what();
  if (Is<CLI::RequiredError>(e) && what == "A subcommand is required") {
    const CLI::App* in = CommandInUse(app);
    return "缺少命令，可用的命令：" + SubcommandNames(*in);
  }
  for (const Wording& w : kWordings) {
    if (!w.kind(e)) continue;
    const std::regex pattern(w.pattern);
    std::smatch m;
    if (std::regex_match(what, m, pattern)) return m.format(w.chinese);
  }
  return "命令行有误：" + what;
}

void UseChineseHelp(CLI::App& app) {
  app.group("命令");  // what each subcommand is listed under
  app.set_help_flag("-h,--help", "显示帮助并退出");
  app.set_version_flag("--version", VersionLine(app.get_name()), "显示版本并退出");
  const auto formatter = std::make_shared<ChineseFormatter>();
  app.formatter(formatter);
  for (const auto& [label, chinese] : std::initializer_list<std::pair<const char*, const char*>>{
           {"Options", "选项"},
           {"Usage", "用法"},
           {"OPTIONS", "选项"},
           {"SUBCOMMAND", "命令"},
           {"SUBCOMMANDS", "命令"},
           {"Positionals", "参数"},
           {"REQUIRED", "必需"},
           {"Env", "环境变量"},
           {"Needs", "需要"},
           {"Excludes", "不能与之同用"},
       }) {
    formatter->label(label, chinese);
  }
  app.failure_message([](const CLI::App* root, const CLI::Error& e) {
    const CLI::App* in = CommandInUse(*root);
    return ChineseUsageError(*root, e) + "\n用 " + CommandLineName(in) + " --help 查看帮助。\n";
  });
}

int PrintParseError(const CLI::App& app, const CLI::ParseError& e) {
  std::ostringstream out, err;
  const int status = app.exit(e, out, err);
  PrintText(stdout, out.str());
  std::fflush(stdout);
  PrintText(stderr, err.str());
  return status;
}

}  // namespace razere::cli
