// Waiting in a benchmark's set-up for what the event loop brings about.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

#include <functional>

namespace bench {

// Runs the event loop until `cond` holds or `ms` pass; polls every millisecond, so it is
// for set-up, not for the figures measured.
inline bool WaitUntil(const std::function<bool()> &cond, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace bench
