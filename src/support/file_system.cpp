// What the layer does the same on every platform: the error's message, the
// layer in use, whole-file helpers.
#include "support/file_system.h"

#include "support/ansi.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>
#include <stdexcept>
#include <algorithm>

namespace razere {

namespace fs = std::filesystem;

#if defined(_WIN32)
fs::path PathFromText(std::string_view text) { return fs::path(Utf8ToWide(text)); }
std::string TextOfPath(const fs::path& path) { return WideToUtf8(path.native()); }
#else
fs::path PathFromText(std::string_view text) { return fs::path(text); }
std::string TextOfPath(const fs::path& path) { return path.string(); }
#endif

const char* FileOpText(FileOp op) {
  switch (op) {
    case FileOp::Open: return "无法打开文件";
    case FileOp::Create: return "无法创建文件";
    case FileOp::Read: return "读取文件失败";
    case FileOp::Write: return "写入文件失败";
    case FileOp::Truncate: return "截断文件失败";
    case FileOp::Flush: return "无法将文件写入磁盘";
    case FileOp::Close: return "关闭文件失败";
    case FileOp::Rename: return "重命名文件失败";
    case FileOp::Remove: return "删除文件失败";
    case FileOp::MakeFolder: return "无法创建目录";
    case FileOp::ListFolder: return "无法读取目录";
    case FileOp::Inspect: return "无法读取文件信息";
    case FileOp::FreeSpace: return "无法查询磁盘空间";
  }
  return "文件操作失败";
}

namespace {

std::string FileErrorText(FileOp op, const fs::path& path, const std::string& reason, const fs::path& second) {
  std::string s = FileOpText(op);
  s += "：";
  s += TextOfPath(path);
  if (!second.empty()) {
    s += " -> ";
    s += TextOfPath(second);
  }
  s += " (";
  s += reason;
  s += ")";
  return s;
}

std::atomic<FileSystem*> g_current{nullptr};

}  // namespace

FileError::FileError(FileOp op, fs::path path, std::string reason, fs::path secondPath)
    : std::runtime_error(FileErrorText(op, path, reason, secondPath)),
      op_(op),
      path_(std::move(path)),
      secondPath_(std::move(secondPath)),
      reason_(std::move(reason)) {}

FileSystem& Fs() {
  FileSystem* fs = g_current.load(std::memory_order_acquire);
  return fs ? *fs : PlatformFileSystem();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& fs) : previous_(g_current.exchange(&fs)) {}

ScopedFileSystem::~ScopedFileSystem() { g_current.store(previous_); }

bool ReadWholeFile(const fs::path& path, std::string& out) {
  out.clear();
  FileSystem& fsys = Fs();
  const FileKind kind = fsys.KindOf(path);
  if (kind == FileKind::None || kind == FileKind::Folder) return false;
  std::unique_ptr<File> f = fsys.Open(path, OpenMode::Read);
  const int64_t size = f->Size();
  if (size > 0) out.reserve(static_cast<size_t>(size));
  // Read to the end rather than to the size seen at open: a file that grows
  // meanwhile is read whole, one that shrinks ends early.
  constexpr size_t kChunk = 1 << 16;
  int64_t offset = 0;
  for (;;) {
    const size_t before = out.size();
    out.resize(before + kChunk);
    const size_t n = f->ReadAt(offset, out.data() + before, kChunk);
    out.resize(before + n);
    offset += static_cast<int64_t>(n);
    if (n < kChunk) break;
  }
  return true;
}

std::unique_ptr<File> CreateTempBeside(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  // A random tag per process keeps two runs (or a crashed run's leftovers)
  // from meeting on one name without asking the platform for a process id.
  static const unsigned tag = std::random_device{}();
  const std::string stem = "." + TextOfPath(target.filename()) + ".tmp" + std::to_string(tag) + "-";
  for (int attempt = 0;; ++attempt) {
    const fs::path temp = dir / PathFromText(stem + std::to_string(counter.fetch_add(1)));
    try {
      return Fs().Open(temp, OpenMode::CreateNew, target);
    } catch (const FileError&) {
      // Another file took the name (a crashed run's leftover): try the next.
      if (attempt >= 100 || Fs().KindOf(temp, false) == FileKind::None) throw;
    }
  }
}

void WriteFileAtomic(const fs::path& path, std::string_view bytes) {
  FileSystem& fsys = Fs();
  const fs::path target = fsys.ResolveLinks(path);
  switch (fsys.KindOf(target)) {
    case FileKind::None:
    case FileKind::File: break;
    case FileKind::Folder: throw FileError(FileOp::Write, path, std::strerror(EISDIR));
    case FileKind::Other: throw FileError(FileOp::Write, path, "不是普通文件");
    case FileKind::Unknown: break;  // creating the temporary file beside it reports why
  }
  AtomicFileWriter out(target, 0);
  out.Append(bytes);
  out.Commit();
}

fs::path AbsoluteCanonical(const fs::path& path) {
  std::error_code ec;
  fs::path abs = fs::absolute(path, ec);
  if (ec) abs = path;
  fs::path canon = fs::weakly_canonical(abs, ec);
  return ec ? abs.lexically_normal() : canon;
}

uint64_t BytesBelow(const fs::path& path) {
  switch (Fs().KindOf(path)) {
    case FileKind::File:
      return static_cast<uint64_t>(Fs().FileSize(path));
    case FileKind::Folder: {
      uint64_t sum = 0;
      for (const FolderEntry& e : Fs().List(path)) sum += BytesBelow(path / PathFromText(e.name));
      return sum;
    }
    default:
      return 0;
  }
}

namespace {
std::atomic<bool> keepWrittenPages{false};
}  // namespace

void KeepWrittenPagesCached(bool keep) { keepWrittenPages.store(keep, std::memory_order_relaxed); }
bool WrittenPagesKeptCached() { return keepWrittenPages.load(std::memory_order_relaxed); }

bool FileSystem::CopyInSystem(const fs::path&, const fs::path&, const std::function<void(uint64_t)>&, bool) {
  return false;
}

void FileSystem::SyncFiles(const std::vector<fs::path>& files) {
  for (const fs::path& file : files) {
    std::unique_ptr<File> f = Open(file, OpenMode::ReadWrite);
    f->Sync();
    f->Close();
  }
}

namespace {

void CopyFile(const fs::path& source, const fs::path& target, const std::function<void(uint64_t)>& copied,
              bool flush) {
  FileSystem& fsys = Fs();
  if (fsys.CopyInSystem(source, target, copied, flush)) return;
  std::unique_ptr<File> in = fsys.Open(source, OpenMode::Read);
  std::unique_ptr<File> out = fsys.Open(target, OpenMode::Replace, source);
  std::vector<uint8_t> buf(1 << 20);
  int64_t offset = 0;
  for (;;) {
    const size_t n = in->ReadAt(offset, buf.data(), buf.size());
    if (n == 0) break;
    out->WriteAt(offset, buf.data(), n);
    offset += static_cast<int64_t>(n);
    if (copied) copied(n);
  }
  if (flush) out->Sync();
  out->Close();
}

}  // namespace

void CopyFileDurably(const fs::path& source, const fs::path& target, const std::function<void(uint64_t)>& copied) {
  CopyFile(source, target, copied, true);
}

void CopyFileUnflushed(const fs::path& source, const fs::path& target, const std::function<void(uint64_t)>& copied) {
  CopyFile(source, target, copied, false);
}

namespace {

// The temporary file is ours; a failure on it is the target's to the operator.
template <class Fn>
auto AsTarget(const fs::path& target, Fn&& fn) {
  try {
    return fn();
  } catch (const FileError& e) {
    throw FileError(e.Op(), target, e.Reason());
  }
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(fs::path target, size_t bufferSize)
    : target_(std::move(target)),
      temp_(AsTarget(target_, [&] { return CreateTempBeside(target_); })),
      tempPath_(temp_->Path()),
      out_(std::make_unique<FileAppender>(*temp_, 0, bufferSize)) {}

AtomicFileWriter::~AtomicFileWriter() {
  if (committed_) return;
  out_.reset();
  temp_.reset();
  try {
    Fs().Remove(tempPath_);
  } catch (const FileError&) {
    // The failure that brought us here is the one to report.
  }
}

void AtomicFileWriter::Append(const void* data, size_t len) {
  AsTarget(target_, [&] { out_->Append(data, len); });
}

void AtomicFileWriter::Commit() {
  AsTarget(target_, [&] {
    out_->Flush();
    temp_->Sync();
    temp_->Close();
    Fs().Rename(tempPath_, target_);
  });
  committed_ = true;
  const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
  if (!FolderSyncBatch::HoldBack(folder)) Fs().SyncFolder(folder);
}

namespace {
thread_local FolderSyncBatch* innermostBatch = nullptr;
}  // namespace

FolderSyncBatch::FolderSyncBatch() : outer_(innermostBatch) { innermostBatch = this; }

FolderSyncBatch::~FolderSyncBatch() {
  innermostBatch = outer_;
  FlushAll(true);
}

void FolderSyncBatch::Finish() {
  innermostBatch = outer_;
  FlushAll(false);
}

void FolderSyncBatch::FlushAll(bool quietly) {
  std::vector<fs::path> folders;
  folders.swap(folders_);
  for (const fs::path& folder : folders) {
    if (!quietly) {
      Fs().SyncFolder(folder);
      continue;
    }
    try {
      Fs().SyncFolder(folder);
    } catch (const std::exception&) {
      // The error that ends the batch early is the one to report.
    }
  }
}

bool FolderSyncBatch::HoldBack(const fs::path& folder) {
  FolderSyncBatch* batch = innermostBatch;
  if (batch == nullptr) return false;
  if (std::find(batch->folders_.begin(), batch->folders_.end(), folder) == batch->folders_.end()) {
    batch->folders_.push_back(folder);
  }
  return true;
}

FileAppender::FileAppender(File& file, int64_t start, size_t bufferSize)
    : file_(file), end_(start), buf_(bufferSize), size_(bufferSize) {}

void FileAppender::Append(const void* data, size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (size_ - used_ < len) Flush();
  if (len >= size_) {
    file_.WriteAt(end_, p, len);
    end_ += static_cast<int64_t>(len);
    return;
  }
  std::memcpy(buf_.get() + used_, p, len);
  used_ += len;
}

uint8_t* FileAppender::Reserve(size_t n) {
  if (n > size_) throw std::logic_error("FileAppender::Reserve beyond its buffer");
  if (size_ - used_ < n) Flush();
  uint8_t* p = buf_.get() + used_;
  used_ += n;
  return p;
}

void FileAppender::Unreserve(size_t n) { used_ -= std::min(n, used_); }

void FileAppender::Skip(int64_t n) {
  Flush();
  end_ += n;
}

void FileAppender::Flush() {
  if (used_ == 0) return;
  const size_t n = used_;
  used_ = 0;  // a failed write throws; nothing is retried
  file_.WriteAt(end_, buf_.get(), n);
  end_ += static_cast<int64_t>(n);
}

}  // namespace razere
