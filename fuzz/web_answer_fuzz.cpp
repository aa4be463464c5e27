// The web service's answer: any status, encoding header and body must end in
// either a confirmed merge or a clear error. Input: a status byte pair, then
// the body; the first byte's top bit also sets a content encoding.
#include "fuzz/fuzz_support.h"
#include "remote/area_merge.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  HttpAnswer answer;
  // Mostly 200, so that the body is parsed; otherwise any status.
  answer.status = data[1] < 200 ? 200 : (data[0] & 0x7F) * 8 + data[1] % 8;
  answer.statusText = "OK";
  if (data[0] & 0x80) answer.contentEncoding = "gzip";
  answer.body.assign(reinterpret_cast<const char*>(data + 2), size - 2);
  std::vector<std::string> log;
  fuzz::ExpectCleanEnd([&] { CheckAreaMergeAnswer(answer, log); });
  return 0;
}
