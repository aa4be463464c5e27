// The decoders of encoded setup values (the web service's credentials in
// !Setup.txt) on any text. Input: one fill byte, then the value.
#include "fuzz/fuzz_support.h"
#include "support/codecs.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t fill = data[0];
  const std::string_view value(reinterpret_cast<const char*>(data + 1), size - 1);
  fuzz::ExpectCleanEnd([&] { (void)DecodeSetupValue(value, fill); });
  fuzz::ExpectCleanEnd([&] { (void)DecodeSixBit(value); });
  fuzz::ExpectCleanEnd([&] { (void)DecodeBase64(value); });
  fuzz::ExpectCleanEnd([&] {
    const size_t half = value.size() / 2;
    (void)DecryptDesChain(value.substr(0, half), value.substr(half), fill);
  });
  return 0;
}
