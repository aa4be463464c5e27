// Whole text files as lines of UTF-8.
//
// Reading decodes by byte-order mark (UTF-8, UTF-16 LE/BE), else GBK; every
// decode is lossless so that a file read and written back in the same
// encoding keeps its bytes (apart from line endings, which become CRLF).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/file_system.h"

namespace razere {

enum class TextEncoding { Ansi, Utf8Bom, Utf16LE, Utf16BE };  // Ansi = GBK, no BOM

struct TextFile {
  std::vector<std::string> lines;  // UTF-8
  TextEncoding encoding = TextEncoding::Ansi;
};

// Decodes by byte-order mark (UTF-8, UTF-16 LE/BE), else GBK (lossless, see
// GbkToUtf8). Lines split on CRLF, LF or CR; a final line break adds no empty
// line. False when missing or unreadable.
bool ReadTextFile(const std::filesystem::path& path, TextFile& out);

// Writes every line followed by CRLF in `encoding` (with its BOM unless
// Ansi). The file is complete or absent: written to a temporary file beside
// it, flushed, checked, then renamed over the target (WriteFileAtomic).
// Throws FileError on any failure.
void WriteTextFile(const std::filesystem::path& path, const std::vector<std::string>& lines,
                   TextEncoding encoding = TextEncoding::Ansi);

// Splits decoded text on CRLF, LF or CR; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// The whole file as bytes. False when missing or unreadable (see ReadWholeFile
// for a read that tells the two apart).
bool ReadFileBytes(const std::filesystem::path& path, std::string& out);

// Detects the encoding of raw file bytes by byte-order mark and decodes them
// to UTF-8 (the mark itself is not part of the text). Lossless: invalid GBK
// or UTF-8 bytes become surrogate escapes, unpaired UTF-16 units become their
// surrogate code point. A UTF-16 text of odd length loses its dangling last
// byte (half a code unit carries no character).
std::string DecodeText(std::string_view bytes, TextEncoding& encoding);

// Encodes UTF-8 text in `encoding`, with its byte-order mark unless Ansi or
// withBom is false. Surrogate escapes become their raw byte again in Ansi
// and Utf8Bom; in UTF-16 every surrogate code point (escapes included) is
// written as its code unit, which is how unpaired units read from a UTF-16
// file come back unchanged. Text the encoding cannot hold becomes '?' and sets
// *lossy when given.
std::string EncodeText(std::string_view utf8, TextEncoding encoding, bool withBom = true, bool* lossy = nullptr);

}  // namespace razere
