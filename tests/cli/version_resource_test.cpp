// The Windows programs' version resources: what Explorer's file properties
// show is the build tag --version prints, under the Chinese translation.
#if defined(_WIN32)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/build_tag.h"
#include "fixtures/cli_runner.h"
#include "support/ansi.h"

namespace razere {
namespace {

// A string of the file's version resource in the 080404B0 block; empty when
// the file has no such resource or string.
std::string VersionString(const std::string& exe, const wchar_t* name) {
  const std::wstring file = Utf8ToWide(exe);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> data(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return {};
  const std::wstring key = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
  void* value = nullptr;
  UINT chars = 0;
  if (!::VerQueryValueW(data.data(), key.c_str(), &value, &chars) || chars == 0) return {};
  std::wstring text(static_cast<const wchar_t*>(value), chars);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return WideToUtf8(text);
}

TEST(VersionResource, EachProgramCarriesTheBuildTag) {
  for (const char* tool : {"razere-cli", "razere-gen"}) {
    const std::string exe = testing::ToolPath(tool);
    EXPECT_EQ(VersionString(exe, L"FileVersion"), BuildTag()) << exe;
    EXPECT_EQ(VersionString(exe, L"ProductVersion"), BuildTag()) << exe;
    EXPECT_EQ(VersionString(exe, L"OriginalFilename"), std::string(tool) + ".exe") << exe;
    EXPECT_NE(VersionString(exe, L"FileDescription").find("合区工具"), std::string::npos) << exe;
  }
}

}  // namespace
}  // namespace razere
#endif
