// The main window's bottom status line (label_msg), reachable from every page. Pages use
// it to say, in Chinese, what failed (a file not saved, samples not being written).
#pragma once
#include <QString>

namespace statusline {
// Shows `text` in the main window's label_msg; does nothing without a main window.
void Show(const QString &text);
// The current text (empty without a main window).
QString Text();
}  // namespace statusline
