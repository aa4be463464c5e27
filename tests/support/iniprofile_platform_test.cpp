// The INI layer against the platform's own profile functions
// (GetPrivateProfileStringW, WritePrivateProfileStringW), on Windows only:
// the same files read through both, and the same generated writes and
// deletions applied through both, must read back alike.
//
// Under Wine, the platform is Wine's implementation. Where it departs from
// the layer's documented behaviour, the case is listed (WineDeparts) with
// the reason. Wine also rewrites the whole file on every write, where
// Windows changes only the line: the files' bytes are not compared, only
// what they read back as.
#if defined(_WIN32)

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/ansi.h"
#include "support/file_system.h"
#include "support/iniprofile.h"
#include "support/platform_temp_dir.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// The platform's profile functions cache files: every comparison uses a
// file name of its own.
fs::path FreshFile(const TempDir& dir, const std::string& stem) {
  static int counter = 0;
  return dir.path() / (stem + "-" + std::to_string(++counter) + ".ini");
}

std::string PlatformRead(const fs::path& file, const std::string& section, const std::string& key,
                         const std::string& def) {
  std::wstring buf(4096, L'\0');
  const DWORD n = ::GetPrivateProfileStringW(Utf8ToWide(section).c_str(), Utf8ToWide(key).c_str(),
                                             Utf8ToWide(def).c_str(), buf.data(), static_cast<DWORD>(buf.size()),
                                             file.wstring().c_str());
  buf.resize(n);
  return WideToUtf8(buf);
}

void PlatformWrite(const fs::path& file, const std::string& section, const std::string& key, const char* value) {
  const std::wstring v = value ? Utf8ToWide(value) : std::wstring();
  ASSERT_TRUE(::WritePrivateProfileStringW(Utf8ToWide(section).c_str(), Utf8ToWide(key).c_str(),
                                           value ? v.c_str() : nullptr, file.wstring().c_str()));
}

struct Lookup {
  std::string section, key, def;
};

const std::vector<Lookup>& Lookups() {
  static const std::vector<Lookup> all = [] {
    std::vector<Lookup> v;
    for (const char* s : {"Setup", "setup", "X", "行会", "missing"}) {
      for (const char* k : {"A", "a", "B", "Path", "名", "Dup", "Q1", "Q2", "Q3", "Q4", "none"}) {
        v.push_back({s, k, "<def>"});
      }
    }
    v.push_back({"Setup", "none", "trailing   "});
    v.push_back({"Setup", "none", "  lead"});
    return v;
  }();
  return all;
}

// A section that occurs twice: the layer searches each of the name in file
// order, as its header documents; Wine searches the first only, so a key of
// the second alone reads as the default there. Windows' documentation does
// not say.
const std::string kDuplicateSections = "[Setup]\r\nA=1\r\n[X]\r\nB=2\r\n[setup]\r\nA=again\r\nB=from second\r\n";

bool WineDeparts(const std::string& file, const Lookup& l) {
  return file == kDuplicateSections && (l.section == "Setup" || l.section == "setup") && l.key == "B";
}

// Files the platform reads as the layer does: CRLF and LF, blanks, comments,
// quotes, duplicate sections and keys, GBK text, a UTF-8 byte-order mark.
TEST(IniAgainstPlatform, ReadsOfTheSameFileAgree) {
  TempDir dir;
  const std::vector<std::string> files = {
      "[Setup]\r\nA=1\r\nB = two words \r\nPath=D:\\合区\\\r\n[X]\r\nA=x\r\n",
      "[Setup]\nA=lf\nB=\n",
      "; comment\r\n[ Setup ]\r\n  A  =  padded  \r\n;B=commented\r\nDup=first\r\nDup=second\r\n",
      kDuplicateSections,
      "[Setup]\r\nQ1=\"quoted\"\r\nQ2='single'\r\nQ3=\"unmatched'\r\nQ4=\"\r\n",
      "[行会]\r\n名=中文值\r\n[Setup]\r\nPath=\"D:\\主库 (1)\\\"\r\n",
      "A=before any section\r\n[Setup]\r\nA=after\r\n",
      "[Setup]\r\nA=no final break",
      "\xEF\xBB\xBF[Setup]\r\nA=with bom\r\n",
  };
  for (const std::string& text : files) {
    // Text files of the tests are UTF-8; settings files are GBK.
    const std::string bytes = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text : Utf8ToGbk(text);
    const fs::path file = FreshFile(dir, "read");
    WriteFileAtomic(file, bytes);
    for (const Lookup& l : Lookups()) {
      if (WineDeparts(text, l)) {
        EXPECT_EQ(IniReadString(file, l.section, l.key, l.def), "from second");
        continue;
      }
      EXPECT_EQ(IniReadString(file, l.section, l.key, l.def), PlatformRead(file, l.section, l.key, l.def))
          << text << "\n[" << l.section << "] " << l.key << " default \"" << l.def << "\"";
    }
  }
}

// One generated operation: a write (value) or a key's deletion (no value).
struct Op {
  std::string section, key;
  std::optional<std::string> value;
};

std::vector<Op> GenerateOps(uint32_t seed, size_t count) {
  std::mt19937 rng(seed);
  const std::vector<std::string> sections = {"Setup", "setup", "X", "行会"};
  const std::vector<std::string> keys = {"A", "a", "B", "Path", "名"};
  const std::vector<std::string> values = {"1", "", "two words", "D:\\合区\\", "中文", "x=y", "  inner  blanks"};
  std::vector<Op> ops;
  for (size_t i = 0; i < count; ++i) {
    Op op{sections[rng() % sections.size()], keys[rng() % keys.size()], std::nullopt};
    if (rng() % 4 != 0) op.value = values[rng() % values.size()];
    ops.push_back(op);
  }
  return ops;
}

// The same operations through the layer and through the platform, each on
// its own copy of a starting file: after every one, every key reads alike
// from both files through both readers.
TEST(IniAgainstPlatform, GeneratedWritesAndDeletionsReadBackAlike) {
  TempDir dir;
  const std::vector<std::string> starts = {"", "[Setup]\r\nA=old\r\nB=keep\r\n", "[Setup]\nA=lf\n[X]\nA=1\nA=dup\n",
                                           "; only a comment\r\n"};
  uint32_t seed = 1;
  for (const std::string& start : starts) {
    const fs::path ours = FreshFile(dir, "ours");
    const fs::path theirs = FreshFile(dir, "theirs");
    if (!start.empty()) {
      WriteFileAtomic(ours, Utf8ToGbk(start));
      WriteFileAtomic(theirs, Utf8ToGbk(start));
    }
    for (const Op& op : GenerateOps(seed++, 40)) {
      if (op.value) {
        IniWriteString(ours, op.section, op.key, *op.value);
        PlatformWrite(theirs, op.section, op.key, op.value->c_str());
      } else {
        IniDeleteKey(ours, op.section, op.key);
        PlatformWrite(theirs, op.section, op.key, nullptr);
      }
      const std::string what = "[" + op.section + "] " + op.key + (op.value ? "=" + *op.value : " deleted");
      for (const Lookup& l : Lookups()) {
        const std::string expected = PlatformRead(theirs, l.section, l.key, l.def);
        EXPECT_EQ(IniReadString(ours, l.section, l.key, l.def), expected) << "after " << what << ", read [" << l.section << "] " << l.key;
        EXPECT_EQ(IniReadString(theirs, l.section, l.key, l.def), expected) << "after " << what << ", read [" << l.section << "] " << l.key << " of the platform's file";
      }
      if (::testing::Test::HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace razere

#endif  // _WIN32
