#include "app/build_tag.h"

#include "razere_build_tag.h"

namespace razere {

const char* BuildTag() { return RAZERE_BUILD_TAG; }

std::string VersionLine(const std::string& program) { return program + " " + BuildTag(); }

}  // namespace razere
