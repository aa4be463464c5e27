#include "support/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "support/ansi.h"
#include "support/utf8.h"

namespace razere {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void ThrowFileError(const fs::path& path, const char* what, int err) {
  throw std::runtime_error(std::string(what) + " \"" + path.string() + "\": " + std::strerror(err));
}

// Strict UTF-8 with every byte of a malformed sequence escaped one by one.
std::string DecodeUtf8Lossless(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(s, i, cp, false);
    if (len == 0) {
      AppendEscapedByte(out, static_cast<unsigned char>(s[i]));
      ++i;
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::string DecodeUtf16(std::string_view s, bool bigEndian) {
  std::string out;
  out.reserve(s.size());
  const size_t units = s.size() / 2;  // a dangling odd byte is dropped
  auto unitAt = [&](size_t k) -> char16_t {
    const auto a = static_cast<unsigned char>(s[2 * k]);
    const auto b = static_cast<unsigned char>(s[2 * k + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  for (size_t k = 0; k < units; ++k) {
    const char16_t u = unitAt(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
      const char16_t lo = unitAt(k + 1);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (lo - 0xDC00));
        ++k;
        continue;
      }
    }
    AppendUtf8(out, u);  // unpaired surrogates are kept as their code point
  }
  return out;
}

void AppendUnit(std::string& out, char16_t u, bool bigEndian) {
  const char hi = static_cast<char>(u >> 8);
  const char lo = static_cast<char>(u & 0xFF);
  if (bigEndian) {
    out.push_back(hi);
    out.push_back(lo);
  } else {
    out.push_back(lo);
    out.push_back(hi);
  }
}

std::string EncodeUtf16(std::string_view utf8, bool bigEndian, bool* lossy) {
  std::string out;
  out.reserve(utf8.size() * 2);
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(utf8, i, cp, true);
    if (len == 0) {
      cp = '?';
      if (lossy) *lossy = true;
      ++i;
    } else {
      i += len;
    }
    if (cp > 0xFFFF) {
      AppendUnit(out, static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)), bigEndian);
      AppendUnit(out, static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)), bigEndian);
    } else {
      AppendUnit(out, static_cast<char16_t>(cp), bigEndian);
    }
  }
  return out;
}

// UTF-8 for a file: escapes become their raw byte again; other surrogate code
// points and malformed bytes cannot be written and become '?'.
std::string EncodeUtf8File(std::string_view utf8, bool* lossy) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(utf8, i, cp, true);
    if (len != 0 && IsEscape(cp)) {
      out.push_back(static_cast<char>(cp - 0xDC00));
    } else if (len == 0 || IsSurrogate(cp)) {
      out.push_back('?');
      if (lossy) *lossy = true;
    } else {
      out.append(utf8.substr(i, len));
    }
    i += len == 0 ? 1 : len;
  }
  return out;
}

bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string DecodeText(std::string_view bytes, TextEncoding& encoding) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    encoding = TextEncoding::Utf8Bom;
    return DecodeUtf8Lossless(bytes.substr(3));
  }
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    encoding = TextEncoding::Utf16LE;
    return DecodeUtf16(bytes.substr(2), false);
  }
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
    encoding = TextEncoding::Utf16BE;
    return DecodeUtf16(bytes.substr(2), true);
  }
  encoding = TextEncoding::Ansi;
  return GbkToUtf8(bytes);
}

std::string EncodeText(std::string_view utf8, TextEncoding encoding, bool withBom, bool* lossy) {
  switch (encoding) {
    case TextEncoding::Ansi:
      return Utf8ToGbk(utf8, lossy);
    case TextEncoding::Utf8Bom:
      return (withBom ? std::string("\xEF\xBB\xBF") : std::string()) + EncodeUtf8File(utf8, lossy);
    case TextEncoding::Utf16LE:
      return (withBom ? std::string("\xFF\xFE") : std::string()) + EncodeUtf16(utf8, false, lossy);
    case TextEncoding::Utf16BE:
      return (withBom ? std::string("\xFE\xFF") : std::string()) + EncodeUtf16(utf8, true, lossy);
  }
  return Utf8ToGbk(utf8, lossy);
}

bool ReadFileBytes(const fs::path& path, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      out.clear();
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

void WriteFileAtomic(const fs::path& path, std::string_view bytes) {
  // A symbolic link is followed so that the file it names is replaced, not the link.
  fs::path target = path;
  std::error_code ec;
  if (fs::is_symlink(path, ec)) {
    const fs::path resolved = fs::weakly_canonical(path, ec);
    if (!ec) target = resolved;
  }
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");

  // Keep the permission bits of the file being replaced.
  // Only a regular file is ever replaced: a device, pipe or socket at the
  // path is refused instead of being swapped for a file.
  mode_t mode = 0666;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) ThrowFileError(path, "cannot write", EISDIR);
    if (!S_ISREG(st.st_mode)) {
      throw std::runtime_error("cannot write \"" + path.string() + "\": not a regular file");
    }
    mode = st.st_mode & 07777;
  }

  static std::atomic<unsigned> counter{0};
  fs::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
                  std::to_string(counter.fetch_add(1)));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) ThrowFileError(path, "cannot create a temporary file to write", errno);

  auto fail = [&](const char* what) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    ThrowFileError(path, what, err);
  };
  if (mode != 0666 && ::fchmod(fd, mode) != 0) fail("cannot set permissions of");
  if (!WriteAll(fd, bytes)) fail("cannot write");
  if (::fsync(fd) != 0) fail("cannot flush");
  const int closeResult = ::close(fd);
  fd = -1;
  if (closeResult != 0) fail("cannot close");
  if (::rename(temp.c_str(), target.c_str()) != 0) fail("cannot replace");

  // Make the rename itself durable; a folder that cannot be opened or synced
  // (some file systems refuse) leaves the new file in place all the same.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
}

bool ReadTextFile(const fs::path& path, TextFile& out) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return false;
  TextEncoding enc = TextEncoding::Ansi;
  const std::string text = DecodeText(bytes, enc);
  out.lines = SplitLines(text);
  out.encoding = enc;
  return true;
}

void WriteTextFile(const fs::path& path, const std::vector<std::string>& lines, TextEncoding encoding) {
  size_t total = 0;
  for (const auto& l : lines) total += l.size() + 2;
  std::string text;
  text.reserve(total);
  for (const auto& l : lines) {
    text += l;
    text += "\r\n";
  }
  WriteFileAtomic(path, EncodeText(text, encoding));
}

}  // namespace razere
