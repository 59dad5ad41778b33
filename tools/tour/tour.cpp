// quorvex-tour <folder>: builds the main window, scans and connects the simulated meters
// (run it inside `tessivar-sim`), saves a screenshot of every step into <folder> and
// prints the paths. Exit code 0 when every step succeeded.
#include "tour.h"

#include "appsetup.h"
#include "mainwidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace tour {

bool WaitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(5);
    }
    return true;
}

void Settle(int ms)
{
    WaitUntil([] { return false; }, ms);
}

namespace {
void Poll(std::function<void(QWidget *)> answer, int left)
{
    QWidget *w = QApplication::activeModalWidget();
    if (!w)
        w = QApplication::activePopupWidget();
    if (w && w->isVisible()) {
        answer(w);
        return;
    }
    if (left > 0)
        QTimer::singleShot(10, [answer, left] { Poll(answer, left - 1); });
}
}  // namespace

void AnswerNextModal(std::function<void(QWidget *)> answer)
{
    QTimer::singleShot(0, [answer] { Poll(answer, 1000); });
}

}  // namespace tour

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    appsetup::SetupApplication();
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvex-tour <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "quorvex-tour: cannot create %s\n", argv[1]);
        return 1;
    }

    std::vector<tour::Step> steps;
    tour::AddDeviceSteps(steps);
    tour::AddMeasureSteps(steps);
    tour::AddFileSteps(steps);

    tour::Context ctx;
    auto *window = new MainWidget;
    ctx.window = window;
    // A size that shows every page well and fits the virtual display.
    window->setGeometry(0, 0, 1440, 860);
    window->show();

    int failed = 0;
    for (tour::Step &step : steps) {
        if (step.prepare && !step.prepare(ctx)) {
            std::fprintf(stderr, "quorvex-tour: step %s failed\n", qPrintable(step.name));
            ++failed;
            break;
        }
        tour::Settle(150);
        QWidget *target = step.target ? step.target(ctx) : window;
        const QString path = QDir(folder).absoluteFilePath(step.name + ".png");
        if (!target || !target->grab().save(path)) {
            std::fprintf(stderr, "quorvex-tour: cannot save %s\n", qPrintable(path));
            ++failed;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
        std::fflush(stdout);
    }
    window->close();
    delete window;
    return failed == 0 ? 0 : 1;
}
