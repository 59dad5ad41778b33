// The screenshot tour: the real main window against simulated meters, driven through a
// fixed list of steps, each leaving the window in a named state that is saved as a PNG.
// The manual's pictures come from it, and `./scripts/run` shows it when there is no
// display. Each area of the application adds its steps in its own file.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class MainWidget;

namespace tour {

struct Context {
    MainWidget *window = nullptr;
    // Ids of the meters the tour found, in ascending order.
    std::vector<int> ids;
};

struct Step {
    QString name;  // file name without suffix, e.g. "01-device-page"
    // Puts the window into the state to be shown; false stops the tour with an error.
    std::function<bool(Context &)> prepare;
    // What to grab; the main window when empty.
    std::function<QWidget *(Context &)> target;
};

// Processes events until `condition` holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs);
// Lets the window run for `ms` (ticks, repaints, samples arriving).
void Settle(int ms);
// Runs `answer` on the next modal dialog once it shows.
void AnswerNextModal(std::function<void(QWidget *)> answer);

template <class T>
T *Find(QWidget *root, const char *name)
{
    return root->findChild<T *>(QString::fromLatin1(name));
}

// Steps of each area, in the order they are shown.
void AddDeviceSteps(std::vector<Step> &steps);
void AddMeasureSteps(std::vector<Step> &steps);
void AddFileSteps(std::vector<Step> &steps);

}  // namespace tour
