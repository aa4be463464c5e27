// The file layer: the platform's implementation and the memory one must
// behave alike, since tests and fuzz targets run stages on the latter.
#include "support/file_system.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <iterator>
#include <fstream>
#include <optional>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "platform_temp_dir.h"

namespace razere {
namespace {

namespace fs = std::filesystem;

// A scratch root on one implementation, that implementation in use.
class PosixRoot {
 public:
  fs::path Root() const { return dir_.path(); }
  FileSystem& Layer() { return PlatformFileSystem(); }

 private:
  testing::TempDir dir_;
};

class MemoryRoot {
 public:
  MemoryRoot() { mem_.MakeFolders("/scratch"); }
  fs::path Root() const { return "/scratch"; }
  FileSystem& Layer() { return mem_; }
  MemoryFileSystem& Memory() { return mem_; }

 private:
  MemoryFileSystem mem_;
};

template <class Root>
class FileLayerTest : public ::testing::Test {
 protected:
  FileLayerTest() : scope_(root_.Layer()) {}
  fs::path P(const std::string& name) const { return root_.Root() / name; }
  FileSystem& L() { return root_.Layer(); }

  void Put(const std::string& name, std::string_view bytes) {
    auto f = L().Open(P(name), OpenMode::Replace);
    f->WriteAt(0, bytes.data(), bytes.size());
    f->Close();
  }
  std::string Get(const std::string& name) {
    std::string out;
    EXPECT_TRUE(ReadWholeFile(P(name), out)) << name;
    return out;
  }

  Root root_;
  ScopedFileSystem scope_;
};

using Roots = ::testing::Types<PosixRoot, MemoryRoot>;
TYPED_TEST_SUITE(FileLayerTest, Roots);

TYPED_TEST(FileLayerTest, OpenModesCreateKeepOrEmpty) {
  this->Put("a", "hello");
  {
    auto f = this->L().Open(this->P("a"), OpenMode::Create);  // kept
    EXPECT_EQ(f->Size(), 5);
    f->WriteAt(1, "A", 1);
  }
  EXPECT_EQ(this->Get("a"), "hAllo");
  { auto f = this->L().Open(this->P("a"), OpenMode::Replace); }  // emptied
  EXPECT_EQ(this->Get("a"), "");
  { auto f = this->L().Open(this->P("b"), OpenMode::Create); }  // created
  EXPECT_EQ(this->L().KindOf(this->P("b")), FileKind::File);
}

TYPED_TEST(FileLayerTest, FailuresCarryOperationPathAndReason) {
  this->Put("there", "x");
  this->L().MakeFolders(this->P("folder"));
  struct Case {
    const char* what;
    std::string path;
    OpenMode mode;
    FileOp op;
    const char* reason;
  };
  const Case cases[] = {
      {"missing file", "missing", OpenMode::Read, FileOp::Open, "No such file or directory"},
      {"missing folder on the way", "no/such", OpenMode::Replace, FileOp::Create, "No such file or directory"},
      {"exclusive create over a file", "there", OpenMode::CreateNew, FileOp::Create, "File exists"},
      {"a folder read as a file", "folder", OpenMode::Read, FileOp::Open, "Is a directory"},
      {"a folder written as a file", "folder", OpenMode::Replace, FileOp::Create, "Is a directory"},
  };
  // Windows' own layer gives the system's text (FormatMessage, in the
  // system's language); the memory layer the POSIX one everywhere.
#if defined(_WIN32)
  const bool posixReasons = !std::is_same_v<TypeParam, PosixRoot>;
#else
  const bool posixReasons = true;
#endif
  for (const Case& c : cases) {
    try {
      this->L().Open(this->P(c.path), c.mode);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const FileError& e) {
      EXPECT_EQ(e.Op(), c.op) << c.what;
      EXPECT_EQ(e.Path(), this->P(c.path)) << c.what;
      if (posixReasons) {
        EXPECT_EQ(e.Reason(), c.reason) << c.what;
      } else {
        EXPECT_FALSE(e.Reason().empty()) << c.what;
      }
      EXPECT_EQ(std::string(e.what()),
                std::string(FileOpText(c.op)) + "：" + TextOfPath(this->P(c.path)) + " (" + e.Reason() + ")")
          << c.what;
    }
  }
}

TYPED_TEST(FileLayerTest, ReadsAreShortOnlyAtTheEnd) {
  this->Put("f", "0123456789");
  auto f = this->L().Open(this->P("f"), OpenMode::Read);
  char buf[16] = {};
  EXPECT_EQ(f->ReadAt(3, buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "3456");
  EXPECT_EQ(f->ReadAt(8, buf, 4), 2u);
  EXPECT_EQ(f->ReadAt(10, buf, 4), 0u);
  EXPECT_EQ(f->ReadAt(-1, buf, 4), 0u);
}

TYPED_TEST(FileLayerTest, WritesBeyondTheEndLeaveZeros) {
  {
    auto f = this->L().Open(this->P("f"), OpenMode::Replace);
    f->WriteAt(4, "ab", 2);
    f->Truncate(8);
  }
  EXPECT_EQ(this->Get("f"), std::string("\0\0\0\0ab\0\0", 8));
}

TYPED_TEST(FileLayerTest, RenameReplacesAndRemoveTellsWhetherAnythingWasThere) {
  this->Put("new", "N");
  this->Put("old", "O");
  this->L().Rename(this->P("new"), this->P("old"));
  EXPECT_EQ(this->Get("old"), "N");
  EXPECT_EQ(this->L().KindOf(this->P("new")), FileKind::None);
  EXPECT_THROW(this->L().Rename(this->P("new"), this->P("x")), FileError);

  EXPECT_TRUE(this->L().Remove(this->P("old")));
  EXPECT_FALSE(this->L().Remove(this->P("old")));

  this->L().MakeFolders(this->P("d/e/f"));
  EXPECT_EQ(this->L().KindOf(this->P("d/e/f")), FileKind::Folder);
  EXPECT_THROW(this->L().Remove(this->P("d/e")), FileError);  // not empty
  EXPECT_TRUE(this->L().Remove(this->P("d/e/f")));
  EXPECT_TRUE(this->L().Remove(this->P("d/e")));
}

TYPED_TEST(FileLayerTest, FoldersAreMadeWholeAndListedByName) {
  this->L().MakeFolders(this->P("a/b/c"));
  this->L().MakeFolders(this->P("a/b/c"));  // already there: fine
  this->Put("a/f.txt", "x");
  EXPECT_THROW(this->L().MakeFolders(this->P("a/f.txt")), FileError);
  EXPECT_THROW(this->L().MakeFolders(this->P("a/f.txt/g")), FileError);

  auto entries = this->L().List(this->P("a"));
  std::sort(entries.begin(), entries.end(), [](auto& x, auto& y) { return x.name < y.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "b");
  EXPECT_EQ(entries[0].kind, FileKind::Folder);
  EXPECT_EQ(entries[1].name, "f.txt");
  EXPECT_EQ(entries[1].kind, FileKind::File);
  EXPECT_THROW(this->L().List(this->P("nothing")), FileError);
}

TYPED_TEST(FileLayerTest, AtomicWritesAreCompleteOrAbsent) {
  this->Put("t", "old");
  WriteFileAtomic(this->P("t"), "new");
  EXPECT_EQ(this->Get("t"), "new");
  {
    AtomicFileWriter w(this->P("t"));
    w.Append("never");
    // Not committed: the target stays and the temporary file goes.
  }
  EXPECT_EQ(this->Get("t"), "new");
  EXPECT_EQ(this->L().List(this->root_.Root()).size(), 1u);

  this->L().MakeFolders(this->P("dir"));
  try {
    WriteFileAtomic(this->P("dir"), "x");
    ADD_FAILURE() << "a folder was replaced";
  } catch (const FileError& e) {
    EXPECT_EQ(e.Reason(), "Is a directory");
  }
  EXPECT_EQ(this->L().KindOf(this->P("dir")), FileKind::Folder);
}

TYPED_TEST(FileLayerTest, AppenderBuffersReservesAndLeavesHoles) {
  auto f = this->L().Open(this->P("f"), OpenMode::Replace);
  FileAppender out(*f, 0, 8);
  out.Append("abc");
  std::memcpy(out.Reserve(3), "def", 3);
  std::memcpy(out.Reserve(2), "zz", 2);
  out.Unreserve(2);
  out.Skip(2);
  out.Append("0123456789");  // larger than the buffer: written at once
  EXPECT_EQ(out.Offset(), 18);
  out.Flush();
  EXPECT_EQ(this->Get("f"), std::string("abcdef\0\0" "0123456789", 18));
}

TYPED_TEST(FileLayerTest, CopiesAreWholeAndReplaceTheTarget) {
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  this->Put("src", big);
  this->Put("dst", "something longer than nothing");
  CopyFileDurably(this->P("src"), this->P("dst"));
  EXPECT_EQ(this->Get("dst"), big);
}

TEST(MemoryFileSystem, AFullDiskFailsTheWriteLikeTheRealOne) {
  MemoryFileSystem mem;
  mem.MakeFolders("/d");
  mem.SetCapacity(10);
  auto f = mem.Open("/d/f", OpenMode::Replace);
  f->WriteAt(0, "12345678", 8);
  try {
    f->WriteAt(8, "abc", 3);
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()), "写入文件失败：/d/f (No space left on device)");
  }
  EXPECT_EQ(mem.FreeSpace("/d"), 2u);
  EXPECT_TRUE(mem.Remove("/d/f"));  // a removed file gives its space back
  EXPECT_EQ(mem.FreeSpace("/d"), 10u);
}

TEST(MemoryFileSystem, FoldersMoveWithTheirContents) {
  MemoryFileSystem mem;
  mem.WriteWhole("/a/b/c.txt", "c");
  mem.Rename("/a", "/z");
  EXPECT_EQ(mem.ReadWhole("/z/b/c.txt"), "c");
  EXPECT_EQ(mem.KindOf("/a/b"), FileKind::None);
}

TEST(DiscardingFileSystem, CountsWritesAndChangesNothing) {
  testing::TempDir dir;
  dir.Write("kept", "original");
  dir.Write("other", "other");
  DiscardingFileSystem discard(PlatformFileSystem());
  {
    ScopedFileSystem scope(discard);
    WriteFileAtomic(dir / "kept", "replaced");
    WriteFileAtomic(dir / "new", "12345");
    Fs().MakeFolders(dir / "sub");
    EXPECT_EQ(Fs().KindOf(dir / "new"), FileKind::File);
    EXPECT_EQ(Fs().FileSize(dir / "new"), 5);
    EXPECT_EQ(Fs().FileSize(dir / "kept"), 8);
    // The view stays whole: what is removed or renamed away is gone from it,
    // what is renamed or made is there.
    EXPECT_TRUE(Fs().Remove(dir / "kept"));
    EXPECT_FALSE(Fs().Remove(dir / "kept"));
    EXPECT_EQ(Fs().KindOf(dir / "kept"), FileKind::None);
    EXPECT_THROW(Fs().Open(dir / "kept", OpenMode::Read), FileError);
    Fs().Rename(dir / "other", dir / "moved");
    EXPECT_EQ(Fs().KindOf(dir / "other"), FileKind::None);
    EXPECT_EQ(Fs().FileSize(dir / "moved"), 5);
    std::vector<std::string> names;
    for (const FolderEntry& e : Fs().List(dir.path())) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"moved", "new", "sub"}));
  }
  EXPECT_EQ(discard.BytesWritten(), 13u);
  EXPECT_EQ(testing::TempDir::Read(dir / "kept"), "original");
  EXPECT_EQ(testing::TempDir::Read(dir / "other"), "other");
  EXPECT_FALSE(fs::exists(dir / "new"));
  EXPECT_FALSE(fs::exists(dir / "sub"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(PlatformFileSystem, AtomicWritesKeepPermissionsAndFollowLinks) {
#if defined(_WIN32)
  RAZERE_POSIX_ONLY("permission bits and symbolic links");
#else
  testing::TempDir dir;
  const fs::path target = dir.Write("t", "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  fs::create_symlink(target, dir / "link");
  WriteFileAtomic(dir / "link", "new");
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(testing::TempDir::Read(target), "new");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
}

// Chinese folder and file names made from the run's text (UTF-8) reach the
// disk as those characters and come back as the same text: on Windows a path
// made from a narrow string directly would be decoded in the ANSI code page.
TEST(PlatformFileSystem, ChineseNamesMadeFromTextComeBackAsTheSameText) {
  testing::TempDir dir;
  const std::string folderText = TextOfPath(dir.path()) + "/合区(主库)";
  const fs::path folder = PathFromText(folderText);
  PlatformFileSystem().MakeFolders(folder);
  const fs::path file = folder / PathFromText("人物名称更改记录.txt");
  WriteFileAtomic(file, "x");

  const std::vector<FolderEntry> entries = PlatformFileSystem().List(folder);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "人物名称更改记录.txt");
  EXPECT_EQ(TextOfPath(file.filename()), "人物名称更改记录.txt");
  EXPECT_EQ(PathFromText(TextOfPath(file)), file);
  EXPECT_EQ(PlatformFileSystem().KindOf(PathFromText(folderText + "/人物名称更改记录.txt")), FileKind::File);
  try {
    PlatformFileSystem().Open(PathFromText(folderText + "/行会.txt"), OpenMode::Read);
    ADD_FAILURE() << "opened a missing file";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("合区(主库)"), std::string::npos) << e.what();
  }
}

TEST(PlatformFileSystem, OffsetsBeyondFourGibibytes) {
  testing::TempDir dir;
  auto f = PlatformFileSystem().Open(dir / "sparse", OpenMode::Replace);
  const int64_t at = (int64_t{5} << 30) + 3;
  f->WriteAt(at, "xyz", 3);
  EXPECT_EQ(f->Size(), at + 3);
  char buf[3];
  EXPECT_EQ(f->ReadAt(at, buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "xyz");
}

// Remembers every folder flush asked of the layer.
class FolderFlushes : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  void SyncFolder(const fs::path& folder) override {
    flushed.push_back(folder.string());
    ForwardingFileSystem::SyncFolder(folder);
  }
  std::vector<std::string> flushed;
};

TEST(FolderSyncBatch, FlushesEachFolderOnceAtTheEnd) {
  MemoryFileSystem mem;
  mem.MakeFolders("/a");
  mem.MakeFolders("/b");
  FolderFlushes layer(mem);
  ScopedFileSystem scope(layer);
  {
    FolderSyncBatch batch;
    WriteFileAtomic("/a/1", "x");
    WriteFileAtomic("/a/2", "y");
    {
      FolderSyncBatch inner;
      WriteFileAtomic("/b/1", "z");
      inner.Finish();
      EXPECT_EQ(layer.flushed, (std::vector<std::string>{"/b"}));
    }
    WriteFileAtomic("/b/2", "w");
    // The files are in place; only their folders' flushes wait.
    EXPECT_EQ(Fs().FileSize("/a/2"), 1);
    EXPECT_EQ(layer.flushed, (std::vector<std::string>{"/b"}));
    batch.Finish();
  }
  EXPECT_EQ(layer.flushed, (std::vector<std::string>{"/b", "/a", "/b"}));
  // Without a batch every commit flushes its folder at once.
  WriteFileAtomic("/a/3", "v");
  EXPECT_EQ(layer.flushed.back(), "/a");
  EXPECT_EQ(layer.flushed.size(), 4u);
}

// A batch left by an exception still flushes what it held back.
TEST(FolderSyncBatch, AnErrorOnTheWayStillFlushesQuietly) {
  MemoryFileSystem mem;
  mem.MakeFolders("/a");
  FolderFlushes layer(mem);
  ScopedFileSystem scope(layer);
  try {
    FolderSyncBatch batch;
    WriteFileAtomic("/a/1", "x");
    throw std::runtime_error("failed on the way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(layer.flushed, (std::vector<std::string>{"/a"}));
}


// Copies the system makes itself (shared blocks, the kernel's copy, the
// system's copy on Windows) or, where it refuses, the program: every byte,
// every byte counted once, the target replaced, the permission bits kept.
std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) >> 3);
  return bytes;
}

// A layer whose system copy is refused, as on a file system without one.
class NoSystemCopy : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  bool CopyInSystem(const fs::path&, const fs::path&, const std::function<void(uint64_t)>&, bool) override {
    ++asked;
    return false;
  }
  int asked = 0;
};

TEST(PlatformFileSystem, CopiesCountEveryByteOnceWhetherTheSystemOrTheProgramCopies) {
  testing::TempDir dir;
  const std::string bytes = Pattern((3 << 20) + 12345, 1);
  const fs::path src = dir.Write("src", bytes);
#if !defined(_WIN32)
  ASSERT_EQ(::chmod(src.c_str(), 0640), 0);
#endif
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "the system's copy");
    NoSystemCopy refusing(PlatformFileSystem());
    std::optional<ScopedFileSystem> scope;
    if (refused) scope.emplace(refusing);
    const fs::path dst = dir / (refused ? "dst-refused" : "dst");
    WriteFileAtomic(dst, Pattern(5 << 20, 2));  // longer: emptied first
    uint64_t counted = 0;
    CopyFileDurably(src, dst, [&](uint64_t n) { counted += n; });
    EXPECT_EQ(testing::TempDir::Read(dst), bytes);
    EXPECT_EQ(counted, bytes.size());
    EXPECT_EQ(refusing.asked, refused ? 1 : 0);
#if !defined(_WIN32)
    struct stat st {};
    ASSERT_EQ(::stat(dst.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
  }
}

#if defined(__linux__)
// A file system image mounted on a loop device for the scope's life.
class LoopMount {
 public:
  LoopMount(const fs::path& image, const fs::path& at, const char* mkfs, uint64_t bytes) : at_(at) {
    if (::geteuid() != 0) {
      error_ = "needs root to mount a loop device";
      return;
    }
    fs::create_directories(at);
    { std::ofstream(image).close(); }
    fs::resize_file(image, bytes);
    const std::string quiet = " >/dev/null 2>&1";
    if (std::system((std::string(mkfs) + " -q " + image.string() + quiet).c_str()) != 0) {
      error_ = std::string(mkfs) + " failed or is missing (xfsprogs)";
    } else if (std::system(("mount -o loop " + image.string() + " " + at.string() + quiet).c_str()) != 0) {
      error_ = "cannot mount a loop device here";
    } else {
      mounted_ = true;
    }
  }
  ~LoopMount() {
    if (mounted_) (void)std::system(("umount " + at_.string() + " >/dev/null 2>&1").c_str());
  }
  const std::string& error() const { return error_; }

 private:
  fs::path at_;
  bool mounted_ = false;
  std::string error_;
};

uint64_t FreeBytes(const fs::path& at) {
  ::sync();
  return PlatformFileSystem().FreeSpace(at);
}

// On a file system that shares blocks the staged copies of a replacement cost
// neither time nor space, and the two files still change on their own; from
// there to another file system the kernel refuses and the program copies.
TEST(PlatformFileSystem, OnAFileSystemThatSharesBlocksACopyTakesNoSpace) {
  testing::TempDir dir;
  LoopMount xfs(dir / "xfs.img", dir / "xfs", "mkfs.xfs", uint64_t{320} << 20);
  if (!xfs.error().empty()) GTEST_SKIP() << "no XFS image: " << xfs.error();
  const fs::path mnt = dir / "xfs";
  const std::string bytes = Pattern(uint64_t{64} << 20, 3);
  WriteFileAtomic(mnt / "a", bytes);
  const uint64_t before = FreeBytes(mnt);
  uint64_t counted = 0;
  CopyFileDurably(mnt / "a", mnt / "b", [&](uint64_t n) { counted += n; });
  const uint64_t after = FreeBytes(mnt);
  EXPECT_EQ(counted, bytes.size());
  EXPECT_LT(before - std::min(before, after), uint64_t{4} << 20) << "the copy took its own blocks";
  EXPECT_EQ(testing::TempDir::Read(mnt / "b"), bytes);
  {
    std::unique_ptr<File> b = PlatformFileSystem().Open(mnt / "b", OpenMode::ReadWrite);
    b->WriteAt(0, "changed", 7);
    b->Close();
  }
  EXPECT_EQ(testing::TempDir::Read(mnt / "a"), bytes);

  CopyFileDurably(mnt / "a", dir / "elsewhere");
  EXPECT_EQ(testing::TempDir::Read(dir / "elsewhere"), bytes);
}
#endif

}  // namespace
}  // namespace razere
