#include "support/textfile.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/platform_temp_dir.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::TempDir;
using Lines = std::vector<std::string>;

TEST(TextFileSplitLines, AllLineBreaks) {
  const struct {
    const char* name;
    std::string text;
    Lines lines;
  } cases[] = {
      {"empty", "", {}},
      {"no break", "a", {"a"}},
      {"final break adds no line", "a\r\n", {"a"}},
      {"crlf lf cr", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"cr cr is two breaks", "a\r\rb", {"a", "", "b"}},
      {"lf cr is two breaks", "a\n\rb", {"a", "", "b"}},
      {"blank lines kept", "\r\n\r\nx\r\n\r\n", {"", "", "x", ""}},
      {"lone break", "\n", {""}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.name;
}

TEST(TextFileRead, DetectsEncodingByByteOrderMark) {
  TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
    TextEncoding encoding;
  } cases[] = {
      {"gbk", "\xD6\xD0\xCE\xC4\r\nx\r\n", TextEncoding::Ansi},
      {"utf-8", "\xEF\xBB\xBF\xE4\xB8\xAD\xE6\x96\x87\r\nx\r\n", TextEncoding::Utf8Bom},
      {"utf-16le", "\xFF\xFE\x2D\x4E\x87\x65\r\0\n\0x\0\r\0\n\0"s, TextEncoding::Utf16LE},
      {"utf-16be", "\xFE\xFF\x4E\x2D\x65\x87\0\r\0\n\0x\0\r\0\n"s, TextEncoding::Utf16BE},
  };
  for (const auto& c : cases) {
    TextFile tf;
    ASSERT_TRUE(ReadTextFile(dir.Write("f.txt", c.bytes), tf)) << c.name;
    EXPECT_EQ(tf.encoding, c.encoding) << c.name;
    EXPECT_EQ(tf.lines, (Lines{"\xE4\xB8\xAD\xE6\x96\x87", "x"})) << c.name;  // 中文, x
  }
}

TEST(TextFileRead, MissingOrNotAFile) {
  TempDir dir;
  TextFile tf;
  tf.lines = {"stale"};
  EXPECT_FALSE(ReadTextFile(dir / "none.txt", tf));
  EXPECT_FALSE(ReadTextFile(dir.path(), tf));
  TextFile empty;
  ASSERT_TRUE(ReadTextFile(dir.Write("empty.txt", ""), empty));
  EXPECT_TRUE(empty.lines.empty());
  EXPECT_EQ(empty.encoding, TextEncoding::Ansi);
}

TEST(TextFileRead, OddLengthUtf16DropsTheDanglingByte) {
  TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
    Lines lines;
  } cases[] = {
      {"le", "\xFF\xFE" "a\0b\0\x41"s, {"ab"}},
      {"be", "\xFE\xFF\0a\0b\x41"s, {"ab"}},
      {"le bom and one byte", "\xFF\xFE\x41", {}},
      {"le high surrogate then odd byte", "\xFF\xFE\x3D\xD8\x00"s, {"\xED\xA0\xBD"}},
  };
  for (const auto& c : cases) {
    TextFile tf;
    ASSERT_TRUE(ReadTextFile(dir.Write("odd.txt", c.bytes), tf)) << c.name;
    EXPECT_EQ(tf.lines, c.lines) << c.name;
  }
}

// Reading and writing back in the same encoding gives the same bytes when the
// file uses CRLF and ends with a line break, whatever the text holds.
TEST(TextFileRoundTrip, SameBytesInEveryEncoding) {
  TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"gbk with invalid bytes", "\xD6\xD0\xFF\x81\r\n\x80\xAA\xA1 \x81\x41\r\n\r\n"},
      {"utf-8 with invalid bytes", "\xEF\xBB\xBF\xE4\xB8\xAD\xC0\x80\xED\xA0\x80\xFF\r\nz\r\n"},
      // 😀 (pair), ก (outside GBK), lone high, lone low, reversed pair, U+DC81.
      {"utf-16le", "\xFF\xFE\x3D\xD8\x00\xDE\x01\x0E\r\0\n\0\x00\xD8x\0\x00\xDC\r\0\n\0\x00\xDE\x3D\xD8\x81\xDC\r\0\n\0"s},
      {"utf-16be", "\xFE\xFF\xD8\x3D\xDE\x00\x0E\x01\0\r\0\n\xD8\x00\xDC\x81\0\r\0\n"s},
  };
  for (const auto& c : cases) {
    const auto path = dir.Write("rt.txt", c.bytes);
    TextFile tf;
    ASSERT_TRUE(ReadTextFile(path, tf)) << c.name;
    const auto out = dir / "out.txt";
    WriteTextFile(out, tf.lines, tf.encoding);
    EXPECT_EQ(TempDir::Read(out), c.bytes) << c.name;
  }
}

TEST(TextFileRoundTrip, DecodedUtf16Text) {
  TextEncoding enc = TextEncoding::Ansi;
  EXPECT_EQ(DecodeText("\xFF\xFE\x3D\xD8\x00\xDE\x00\xD8"s, enc), "\xF0\x9F\x98\x80\xED\xA0\x80");
  EXPECT_EQ(enc, TextEncoding::Utf16LE);
}

TEST(TextFileWrite, CrlfAndByteOrderMark) {
  TempDir dir;
  const Lines lines = {"\xE4\xB8\xAD", "", "a"};  // 中
  const struct {
    TextEncoding encoding;
    std::string bytes;
  } cases[] = {
      {TextEncoding::Ansi, "\xD6\xD0\r\n\r\na\r\n"},
      {TextEncoding::Utf8Bom, "\xEF\xBB\xBF\xE4\xB8\xAD\r\n\r\na\r\n"},
      {TextEncoding::Utf16LE, "\xFF\xFE\x2D\x4E\r\0\n\0\r\0\n\0a\0\r\0\n\0"s},
      {TextEncoding::Utf16BE, "\xFE\xFF\x4E\x2D\0\r\0\n\0\r\0\n\0a\0\r\0\n"s},
  };
  for (const auto& c : cases) {
    const auto path = dir / "w.txt";
    WriteTextFile(path, lines, c.encoding);
    EXPECT_EQ(TempDir::Read(path), c.bytes) << static_cast<int>(c.encoding);
  }
  WriteTextFile(dir / "empty.txt", {});
  EXPECT_EQ(TempDir::Read(dir / "empty.txt"), "");
  EXPECT_TRUE(fs::exists(dir / "empty.txt"));
}

TEST(TextFileWrite, TextOutsideTheCodePage) {
  TempDir dir;
  WriteTextFile(dir / "a.txt", {"x\xF0\x9F\x98\x80y"});
  EXPECT_EQ(TempDir::Read(dir / "a.txt"), "x?y\r\n");
  bool lossy = false;
  EXPECT_EQ(EncodeText("\xED\xA0\x80", TextEncoding::Utf8Bom, false, &lossy), "?");
  EXPECT_TRUE(lossy);
}

TEST(TextFileWrite, ReplacesAndLeavesNoTemporaryFile) {
  TempDir dir;
  const auto path = dir.Write("t.txt", "old contents that are longer\r\n");
#if !defined(_WIN32)  // permission bits: POSIX only
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
#endif
  WriteTextFile(path, {"new"});
  EXPECT_EQ(TempDir::Read(path), "new\r\n");
#if !defined(_WIN32)
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);
}

TEST(TextFileWrite, FollowsSymbolicLink) {
  RAZERE_POSIX_ONLY("symbolic links");
  TempDir dir;
  const auto target = dir.Write("target.txt", "old\r\n");
  fs::create_symlink(target, dir / "link.txt");
  WriteTextFile(dir / "link.txt", {"new"});
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(TempDir::Read(target), "new\r\n");
}

TEST(TextFileWrite, FailureThrowsNamingThePath) {
  TempDir dir;
  const struct {
    const char* name;
    fs::path path;
  } cases[] = {
      {"missing folder", dir / "no-such-folder" / "x.txt"},
      {"target is a folder", dir.path()},
  };
  for (const auto& c : cases) {
    try {
      WriteTextFile(c.path, {"x"});
      ADD_FAILURE() << c.name << ": no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.path.string()), std::string::npos) << c.name << ": " << e.what();
    }
  }
  EXPECT_TRUE(fs::is_directory(dir.path()));
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 0);  // the temporary file of the failed rename is gone
}

TEST(TextFileWrite, RefusesToReplaceSomethingElseThanAFile) {
#if defined(_WIN32)
  RAZERE_POSIX_ONLY("named pipes in the file system");
#else
  TempDir dir;
  const auto fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(WriteTextFile(fifo, {"x"}), std::runtime_error);
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
#endif
}

}  // namespace
}  // namespace razere
