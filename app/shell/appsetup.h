// The program-wide settings the entry function makes before the first window: resources,
// version 1.2.3.0, the UTF-8 locale codec and the application font. Tests and the tour
// call it too, so they see what a user sees.
#pragma once

namespace appsetup {
constexpr const char *kVersion = "1.2.3.0";
// Needs the QApplication; call once, before the first window.
void SetupApplication();
}  // namespace appsetup
