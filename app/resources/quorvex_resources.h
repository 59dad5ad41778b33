#pragma once

// Registers the images of resource.qrc (":/image/...", ":/buttons/measureButton/...",
// ":/pointer/PointerDial/..."). They live in the static library quorvex_resources, so a program
// or test that links it calls this once, after creating the application object and
// before the first window loads an image. Calling it again is harmless.
void QuorvexInitResources();
