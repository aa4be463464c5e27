#include "support/digest.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace razere {
namespace {

struct Sha256Case {
  std::string input;
  const char* hex;
};

// FIPS 180-4 examples and the empty input.
TEST(Sha256, KnownAnswersWholeAndInPieces) {
  const Sha256Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Sha256Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    Sha256 whole;
    whole.Update(c.input);
    EXPECT_EQ(HexText(whole.Final()), c.hex);
    Sha256 pieces;
    for (size_t at = 0; at < c.input.size(); at += 997) pieces.Update(std::string_view(c.input).substr(at, 997));
    EXPECT_EQ(HexText(pieces.Final()), c.hex);
  }
}

TEST(Sha256, TakesNoDataAfterItsDigest) {
  Sha256 d;
  d.Update("abc");
  d.Final();
  EXPECT_THROW(d.Update("x"), std::logic_error);
  EXPECT_THROW(d.Final(), std::logic_error);
}

}  // namespace
}  // namespace razere
