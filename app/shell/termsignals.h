// Ending the application on SIGTERM, SIGINT and SIGHUP (a desktop session that ends, a
// service manager or a terminal that stops the program, tessivar-sim passing a signal on)
// the way a click on the close button ends it: every window gets its close event (the
// main window closes the meter), the event loop returns and the destructors run, so the
// library log is flushed and the exit status is 0.
#pragma once

namespace termsignals {

// Needs the QApplication; call once, in the thread that runs its event loop. A signal only
// writes a byte to a socket (all a signal handler may do); the loop reads it, closes all
// windows and quits, even when a window refuses to close. Returns false when the socket
// or a handler cannot be set up; those signals then keep their default action.
bool QuitOnTerminationSignals();

}  // namespace termsignals
