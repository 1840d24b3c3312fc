#pragma once
// The program's run, from the single-instance check to the end of the event loop, apart from
// main() so that tests can start it in-process.
class QApplication;

namespace kv {

// Answers the exit status: 0 after a normal run (or when an earlier instance was brought
// forward), 1 when a table could be neither opened nor created.
int RunKorvane(QApplication &app);

}  // namespace kv
