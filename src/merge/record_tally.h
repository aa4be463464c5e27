// What the loads and the clean-up leave out of the new data set, and how
// many live records each side's files held: read by the run's report only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace razere {

struct RecordTally {
  enum class Kind : uint8_t { Account, Character, Hero };
  struct LeftOut {
    Kind kind;
    const char* reason;  // "repeated name", "no account", "no index entry", "inactive", "dangling", "no characters"
    std::string name;    // GBK
  };
  struct Side {
    int64_t accounts = 0, characters = 0, heroes = 0;  // live records of ID.DB, Qel.DB, HeroQel.DB
  };

  std::vector<LeftOut> leftOut;
  Side master, slave;

  Side& Of(bool masterSide) { return masterSide ? master : slave; }
  void Leave(Kind kind, const char* reason, std::string name) { leftOut.push_back({kind, reason, std::move(name)}); }
};

}  // namespace razere
