// Which build this is, for --version, the window's caption and the Windows
// version resource: the project's version and, when the build had the git
// checkout, the revision it was built from ("0.1 (1a2b3c4)"; a trailing "+"
// after the revision: built with uncommitted changes; "0.1" alone from a
// source tree without git). Made by cmake/build_tag.cmake at every build.
#pragma once

#include <string>

namespace razere {

// The tag, ASCII, NUL-terminated, the same for the whole program.
const char* BuildTag();

// "<program> <tag>", the line --version prints.
std::string VersionLine(const std::string& program);

}  // namespace razere
