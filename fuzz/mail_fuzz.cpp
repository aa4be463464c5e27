// The mail stage with the slave's Email.db taken from the input; the master's
// mails and every other file come from the harness pair, so the fuzzer's
// recipients can match real characters and renames.
#include <memory>

#include "app/run_driver.h"
#include "dbfiles/xo_custom_database.h"
#include "fuzz/fuzz_support.h"
#include "stages/mail_merge.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NullHost host;
  RunContext ctx;
  fuzz::PrepareStageRun(ctx, host);
  ctx.Slave.Email = fuzz::ScratchFile("Email.db", {reinterpret_cast<const char*>(data), size});
  ctx.MailStore = std::make_shared<TXoCustomDatabase>(ctx.SavePath + "Email.db");
  // No worker thread: ExecAll writes from this thread, which keeps runs repeatable.
  ctx.MailStore->Terminate();
  if (ctx.MailStore->Initialize(kMailDataSize) < 0) fuzz::ReportFinding("harness: the mail store did not start");
  fuzz::ExpectCleanEnd([&] {
    MergeMail(ctx);
    ctx.MailStore->Uninitialize();
    ctx.MailStore->RaiseFirstError();
  });
  ctx.MailStore.reset();
  return 0;
}
