#include "termsignals.h"

#include <QApplication>

#ifdef Q_OS_WIN

namespace termsignals {
// Windows ends programs with window messages, which the close events handle already.
bool QuitOnTerminationSignals() { return false; }
}  // namespace termsignals

#else

#include <QSocketNotifier>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace termsignals {
namespace {

int g_fds[2] = {-1, -1};  // [0] written by the handler, [1] read by the event loop

void OnSignal(int sig)
{
    const int saved = errno;
    const char byte = static_cast<char>(sig);
    // A full socket already holds a pending quit; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
    errno = saved;
}

}  // namespace

bool QuitOnTerminationSignals()
{
    if (g_fds[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0)
        return false;
    auto *notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char bytes[16];
        while (::read(g_fds[1], bytes, sizeof bytes) > 0) {
        }
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    bool ok = true;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ok = ::sigaction(sig, &sa, nullptr) == 0 && ok;
    return ok;
}

}  // namespace termsignals

#endif  // Q_OS_WIN
