// The file layer: every call the program makes on files and folders.
//
// The platform's implementation (file_system_posix.cpp) holds all of the
// system calls; a memory implementation serves tests and fuzz targets, and a
// discarding one lets a run compute everything without storing what it
// writes. Every failure is a FileError carrying the operation, the path and
// the system's reason; interrupted system calls are retried in the platform's
// implementation and nowhere else.
//
// The layer in use is process-wide (Fs()); tests and fuzz targets swap it for
// a scope with ScopedFileSystem. Files opened keep the layer that opened them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <string>
#include <string_view>
#include <vector>

#include "support/byte_pool.h"
#include "support/errors.h"

namespace razere {

enum class OpenMode : uint8_t {
  Read,       // read only; shares the file with every other reader and writer
              // (a running game server may hold it open). A folder is refused.
  ReadInput,  // as Read, but on Windows refused while another program holds
              // the file open for writing, and while this handle is open no
              // one may open it for writing (share read only). Only for an
              // installation's files that a run reads; the program's own
              // files (the save folder, staging copies) are opened with Read,
              // since it may read them while one of its own handles writes.
  ReadWrite,  // an existing file, read and write
  Create,     // read and write; created when missing, contents kept otherwise
  Replace,    // read and write; created when missing, emptied otherwise
  CreateNew,  // read and write; refused when anything exists at the path
};

// Other: a device, pipe, socket, or a symbolic link not followed. Unknown:
// something may be there but cannot be inspected (a folder on the way
// without search permission); opening it reports why.
enum class FileKind : uint8_t { None, File, Folder, Other, Unknown };

struct FolderEntry {
  std::string name;  // file name only, in the platform's file-name encoding
  FileKind kind;     // of the entry itself: a symbolic link is Other
};

// An open file. Offsets and sizes are bytes; offsets are 64-bit because a
// character data file passes 4 GiB with a few thousand characters.
class File {
 public:
  explicit File(std::filesystem::path path) : path_(std::move(path)) {}
  // Closes without checking: reached only when an error already ends the
  // work, or for files that were only read.
  virtual ~File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Reads up to len bytes at offset; fewer only at the end of the file, none
  // for a negative offset.
  virtual size_t ReadAt(int64_t offset, void* buf, size_t len) = 0;
  // Writes all len bytes at offset (a full disk is an error, never a short write).
  virtual void WriteAt(int64_t offset, const void* buf, size_t len) = 0;
  virtual int64_t Size() = 0;
  virtual void Truncate(int64_t size) = 0;
  // Puts the file's data on the disk before returning.
  virtual void Sync() = 0;
  // Closes and reports a failed close (some file systems report write errors
  // only there). Later calls do nothing.
  virtual void Close() = 0;

 private:
  std::filesystem::path path_;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // permissionsOf: when not empty and a file is there, a file this call
  // creates gets its permission bits (the platform's idea of them; ignored
  // where there is none).
  virtual std::unique_ptr<File> Open(const std::filesystem::path& path, OpenMode mode,
                                     const std::filesystem::path& permissionsOf = {}) = 0;

  // What is at path. A symbolic link counts as what it points to when
  // followLinks, else as Other. None only when nothing is there.
  virtual FileKind KindOf(const std::filesystem::path& path, bool followLinks = true) = 0;
  virtual int64_t FileSize(const std::filesystem::path& path) = 0;
  // When the file's data last changed, in nanoseconds since 1970-01-01 UTC
  // (the platform's resolution; the memory layer counts writes instead).
  // Only compared for equality: a server that writes a file changes it.
  virtual int64_t ModifiedTime(const std::filesystem::path& path) = 0;

  // Moves from over to, replacing a file at to in one step.
  virtual void Rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // Removes a file, a symbolic link or an empty folder. False when nothing
  // was there.
  virtual bool Remove(const std::filesystem::path& path) = 0;
  // Creates the folder and every missing parent; a folder already there is fine.
  virtual void MakeFolders(const std::filesystem::path& path) = 0;
  // The entries of a folder, without "." and "..", in no particular order.
  virtual std::vector<FolderEntry> List(const std::filesystem::path& folder) = 0;
  // Makes the folder's entries (a rename into it, a new file) durable. Best
  // effort: some file systems refuse, and the entries stand all the same.
  virtual void SyncFolder(const std::filesystem::path& folder) = 0;
  // Bytes free for this user on the file system that holds path.
  virtual uint64_t FreeSpace(const std::filesystem::path& path) = 0;
  // Names the file system that holds path: equal for two paths exactly when
  // their files share one file system (and so its free space).
  virtual std::string VolumeOf(const std::filesystem::path& path) = 0;
  // The path a symbolic link at path finally names; path itself otherwise.
  virtual std::filesystem::path ResolveLinks(const std::filesystem::path& path) = 0;
  // Absolute, with symbolic links resolved as far as the path exists; the
  // rest normalised as text.
  virtual std::filesystem::path Canonical(const std::filesystem::path& path) = 0;
  // A file is there that its owner may not write: the operator's mark that
  // it must not change (a replacement by rename would not notice it).
  virtual bool IsReadOnly(const std::filesystem::path& path) = 0;
  // Copies the file from to to (created, or emptied when there), flushed to
  // disk and closed, without the bytes passing through the process: blocks
  // shared by both files where the file system offers it (each still
  // changes on its own), else the system's own copy. copied hears of the
  // bytes as they are copied. False when the platform cannot copy between
  // these two files (another file system, one without such a copy, a layer
  // in memory): nothing was copied then, and the caller copies itself.
  virtual bool CopyInSystem(const std::filesystem::path& from, const std::filesystem::path& to,
                            const std::function<void(uint64_t)>& copied, bool flush = true);
  // Puts the data of every file named on the disk before returning: the
  // flushes of many files written one after another, at once. The platform
  // flushes each file system once where it can; otherwise each file is
  // flushed on its own.
  virtual void SyncFiles(const std::vector<std::filesystem::path>& files);
};

// The folder of the running program (settings live beside it); empty when
// the platform cannot tell.
std::filesystem::path ProgramFolder();

// Whether files written from now on keep their pages in the page cache once
// they are written back. By default the platform's layer drops them behind
// the writer (a run writes more than the memory holds on a large server,
// and reclaiming costs more than the copy); a run whose output is read back
// at once (the checks before a replacement) and fits well in memory keeps
// them. Process-wide; only Linux heeds it.
void KeepWrittenPagesCached(bool keep);
bool WrittenPagesKeptCached();

// The machine's memory in bytes; 0 when the platform cannot tell.
uint64_t PhysicalMemory();

// Paths and the run's text. Text in memory (arguments, settings once decoded,
// messages) is UTF-8; a path is the platform's: bytes on POSIX, UTF-16 on
// Windows, where a path made straight from a narrow string would be decoded
// in the ANSI code page and Chinese names would come out garbled. Every path
// made from text and every path shown as text goes through these two; on
// POSIX both hand the bytes on unchanged.
std::filesystem::path PathFromText(std::string_view text);
std::string TextOfPath(const std::filesystem::path& path);

// The platform layers' Canonical: absolute, with the links of the part that
// exists resolved; lexically normal when that cannot be found out.
std::filesystem::path AbsoluteCanonical(const std::filesystem::path& path);

// The layer in use; the platform's unless a ScopedFileSystem is alive.
FileSystem& Fs();
FileSystem& PlatformFileSystem();

// Makes fs the layer in use until destroyed. Not for use while a run works on
// another thread: swap before and after.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& fs);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// Files and folders held in memory under absolute, normalised paths; "/"
// always exists. Flushes cost nothing. With a capacity, writes that would
// hold more bytes than that in all files fail as a full disk does.
class MemoryFileSystem : public FileSystem {
 public:
  MemoryFileSystem();
  ~MemoryFileSystem() override;

  void SetCapacity(uint64_t bytes);
  // A test's stand-in for a server that touches a file without changing it.
  void Touch(const std::filesystem::path& path);
  uint64_t BytesStored() const;

  // Test conveniences: whole contents, parents created as needed.
  void WriteWhole(const std::filesystem::path& path, std::string_view bytes);
  std::string ReadWhole(const std::filesystem::path& path);

  std::unique_ptr<File> Open(const std::filesystem::path& path, OpenMode mode,
                             const std::filesystem::path& permissionsOf = {}) override;
  FileKind KindOf(const std::filesystem::path& path, bool followLinks = true) override;
  int64_t FileSize(const std::filesystem::path& path) override;
  int64_t ModifiedTime(const std::filesystem::path& path) override;
  void Rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  bool Remove(const std::filesystem::path& path) override;
  void MakeFolders(const std::filesystem::path& path) override;
  std::vector<FolderEntry> List(const std::filesystem::path& folder) override;
  void SyncFolder(const std::filesystem::path& folder) override;
  uint64_t FreeSpace(const std::filesystem::path& path) override;
  std::string VolumeOf(const std::filesystem::path& path) override;
  std::filesystem::path ResolveLinks(const std::filesystem::path& path) override;
  bool IsReadOnly(const std::filesystem::path& path) override;
  std::filesystem::path Canonical(const std::filesystem::path& path) override;

  struct State;

 private:
  std::shared_ptr<State> state_;  // shared with open files, which may outlive a swap
};

// Reads from base; everything that would change a file or folder is counted
// and dropped. A file opened for writing reads back as zeros up to the
// furthest byte written to it; files it creates exist for KindOf and
// FileSize until the layer goes.
class DiscardingFileSystem : public FileSystem {
 public:
  explicit DiscardingFileSystem(FileSystem& base);
  ~DiscardingFileSystem() override;

  uint64_t BytesWritten() const;   // all WriteAt lengths
  uint64_t FilesWritten() const;   // files opened for writing

  std::unique_ptr<File> Open(const std::filesystem::path& path, OpenMode mode,
                             const std::filesystem::path& permissionsOf = {}) override;
  FileKind KindOf(const std::filesystem::path& path, bool followLinks = true) override;
  int64_t FileSize(const std::filesystem::path& path) override;
  int64_t ModifiedTime(const std::filesystem::path& path) override;
  void Rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  bool Remove(const std::filesystem::path& path) override;
  void MakeFolders(const std::filesystem::path& path) override;
  std::vector<FolderEntry> List(const std::filesystem::path& folder) override;
  void SyncFolder(const std::filesystem::path& folder) override;
  uint64_t FreeSpace(const std::filesystem::path& path) override;
  std::string VolumeOf(const std::filesystem::path& path) override;
  std::filesystem::path ResolveLinks(const std::filesystem::path& path) override;
  bool IsReadOnly(const std::filesystem::path& path) override;
  std::filesystem::path Canonical(const std::filesystem::path& path) override;

  struct State;

 private:
  FileSystem& base_;
  std::shared_ptr<State> state_;
};

// Hands every call to base: a layer that changes a few calls derives from it
// and overrides those.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& base) : base_(base) {}

  std::unique_ptr<File> Open(const std::filesystem::path& path, OpenMode mode,
                             const std::filesystem::path& permissionsOf = {}) override;
  FileKind KindOf(const std::filesystem::path& path, bool followLinks = true) override;
  int64_t FileSize(const std::filesystem::path& path) override;
  int64_t ModifiedTime(const std::filesystem::path& path) override;
  void Rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  bool Remove(const std::filesystem::path& path) override;
  void MakeFolders(const std::filesystem::path& path) override;
  std::vector<FolderEntry> List(const std::filesystem::path& folder) override;
  void SyncFolder(const std::filesystem::path& folder) override;
  uint64_t FreeSpace(const std::filesystem::path& path) override;
  std::string VolumeOf(const std::filesystem::path& path) override;
  std::filesystem::path ResolveLinks(const std::filesystem::path& path) override;
  bool IsReadOnly(const std::filesystem::path& path) override;
  std::filesystem::path Canonical(const std::filesystem::path& path) override;
  bool CopyInSystem(const std::filesystem::path& from, const std::filesystem::path& to,
                    const std::function<void(uint64_t)>& copied, bool flush = true) override;
  void SyncFiles(const std::vector<std::filesystem::path>& files) override;

 protected:
  FileSystem& Base() const { return base_; }

 private:
  FileSystem& base_;
};

// Remembers where files were written: every path opened for writing and
// every rename's target, in first-seen order.
class RecordingFileSystem : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  // The paths written that hold a file now (a temporary file renamed away is
  // not among them), each once.
  std::vector<std::filesystem::path> FilesWritten();

  std::unique_ptr<File> Open(const std::filesystem::path& path, OpenMode mode,
                             const std::filesystem::path& permissionsOf = {}) override;
  void Rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  bool CopyInSystem(const std::filesystem::path& from, const std::filesystem::path& to,
                    const std::function<void(uint64_t)>& copied, bool flush = true) override;

 private:
  void Note(const std::filesystem::path& path);

  std::mutex mu_;  // the mail store's thread opens files too
  std::vector<std::filesystem::path> written_;
  std::unordered_set<std::string> seen_;  // written_ as text, for the once-only test
};

// ---------------------------------------------------------------------------
// Whole files, over Fs().
// ---------------------------------------------------------------------------

// The whole file. False when nothing or a folder is at path; FileError when
// something else is there or the file cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& out);

// Replaces the file with bytes so that it is complete or as it was: written to
// a new temporary file beside it, flushed, closed, then renamed over it, and
// the folder flushed. The file keeps its permission bits; a symbolic link is
// followed, so the file it names is replaced. Anything other than a regular
// file at the path is refused. Throws FileError.
void WriteFileAtomic(const std::filesystem::path& path, std::string_view bytes);

// A file's size, a folder's with everything below it; 0 when nothing (or
// something other than a file or folder) is there.
uint64_t BytesBelow(const std::filesystem::path& path);

// Copies a file's bytes to target (created, or emptied when there), with
// source's permission bits, flushed to disk and closed; every step checked.
// The system copies them itself where it can (see CopyInSystem).
// copied, when given, hears of every chunk written (its size in bytes).
void CopyFileDurably(const std::filesystem::path& source, const std::filesystem::path& target,
                     const std::function<void(uint64_t)>& copied = {});
// The same without the flush: for copies whose flushes are taken together
// by SyncFiles before anything depends on them.
void CopyFileUnflushed(const std::filesystem::path& source, const std::filesystem::path& target,
                       const std::function<void(uint64_t)>& copied = {});

// A new file beside target, created exclusively under a name no other run
// uses ("." + target's name + ".tmp" + a unique suffix), with target's
// permission bits when it exists.
std::unique_ptr<File> CreateTempBeside(const std::filesystem::path& target);

// Holds back, on this thread, the folder flushes that AtomicFileWriter::Commit
// asks for until Finish, which flushes each folder once: a folder that
// receives thousands of files (the guild store) costs one flush, not one per
// file. Each file's data is still flushed before its rename; only the
// durability of the renames waits for Finish. Batches nest (the inner one
// finishes its own folders).
class FolderSyncBatch {
 public:
  FolderSyncBatch();
  // Without Finish (an error is on its way): flushes what it can, quietly.
  ~FolderSyncBatch();
  FolderSyncBatch(const FolderSyncBatch&) = delete;
  FolderSyncBatch& operator=(const FolderSyncBatch&) = delete;

  // Flushes every folder held back, in first-seen order. Throws FileError.
  void Finish();

  // True when a batch of this thread took the folder.
  static bool HoldBack(const std::filesystem::path& folder);

 private:
  void FlushAll(bool quietly);

  FolderSyncBatch* outer_;
  std::vector<std::filesystem::path> folders_;  // each once
};

// A new file that is complete or absent: written under CreateTempBeside's
// name, then, by Commit, flushed to disk, closed and renamed over target, and
// the folder flushed (at the end of a FolderSyncBatch when one is open). Until Commit succeeds, the destructor removes the
// temporary file and target is as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::filesystem::path target, size_t bufferSize = 1 << 20);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  void Append(const void* data, size_t len);
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  void Commit();

 private:
  std::filesystem::path target_;
  std::unique_ptr<File> temp_;
  std::filesystem::path tempPath_;
  std::unique_ptr<class FileAppender> out_;
  bool committed_ = false;
};

// Appends to a file opened for writing, through a buffer of bufferSize bytes
// (0: every Append writes at once). Flush writes what is buffered.
class FileAppender {
 public:
  FileAppender(File& file, int64_t start = 0, size_t bufferSize = 1 << 20);
  void Append(const void* data, size_t len);
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  // n bytes of the buffer to fill in place; they count as appended.
  // n must not exceed the buffer size.
  uint8_t* Reserve(size_t n);
  // Takes back the last n bytes reserved (not yet written).
  void Unreserve(size_t n);
  // Leaves n bytes unwritten: a hole that reads as zeros once something
  // follows it or the file is truncated to its end.
  void Skip(int64_t n);
  void Flush();
  int64_t Offset() const { return end_ + static_cast<int64_t>(used_); }  // bytes appended so far, from 0

 private:
  File& file_;
  int64_t end_;  // offset of the first byte not yet written to the file
  // Contents undefined: every byte is written before it is read.
  PooledBytes buf_;
  size_t size_;
  size_t used_ = 0;
};

}  // namespace razere
