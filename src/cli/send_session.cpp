#include "cli/send_session.h"

#include <chrono>
#include <exception>
#include <ostream>

#include "base/error_text.h"

namespace kv::cli {

Result runSendSession(TKvSendFax &fax, MainThreadScope &mainThread, Context &ctx,
                      const std::string &command) {
  bool done = false, aborted = false;
  Result result = 0;
  int lastProgress = -1;
  fax.OnFaxStatus = [&](TKvAbstractFax &f, bool, bool) {
    const int p = f.ProgressCode();
    // The session ends every failure with the abort progress; on a terminal that would read
    // as if the user had cancelled, so it is shown only when they did.
    if (p == lastProgress || (p == fpUserAbort && !aborted)) return;
    lastProgress = p;
    if (std::string text = progressText(p); !text.empty()) ctx.err << text << "\n";
  };
  fax.OnFaxError = [&](TKvAbstractFax &f, Result c) { printSessionError(ctx.err, f, c); };
  fax.OnFaxFinish = [&](TKvAbstractFax &, Result c) {
    done = true;
    result = c;
  };
  StopSignals stop;
  try {
    fax.BeginTransmit();
  } catch (const std::exception &e) {
    ctx.err << "korvane-fax " << command << ": " << e.what() << "\n";
    return ecFaxInitError;
  }
  while (!done) {
    mainThread.loop().waitAndRun(std::chrono::milliseconds(50));
    if (stop.raised() && !aborted) {
      aborted = true;
      fax.AbortFax();
    }
  }
  return result;
}

}  // namespace kv::cli
