// Rules of the main window that need no screen: the frameless window's resize border,
// the version text, the first geometry, and where the meter's drive is found.
#pragma once

#include <QList>
#include <QRect>
#include <QString>

namespace windowrules {

// Hit-test answers, numbered as the Windows hit-test message expects them.
enum HitArea {
    kHitNone = 0,
    kHitLeft = 10,
    kHitRight = 11,
    kHitTop = 12,
    kHitTopLeft = 13,
    kHitTopRight = 14,
    kHitBottom = 15,
    kHitBottomLeft = 16,
    kHitBottomRight = 17,
};

constexpr int kBorderPx = 4;

// Which border of a frameless window of size `width` x `height` the point (x, y) (window
// coordinates) lies on: corners first, then sides; kHitNone inside, and always kHitNone
// when the window is maximised or full screen (such a window is not resized by hand).
HitArea HitTest(int x, int y, int width, int height, bool maximisedOrFullScreen);

// The window edges a press on `area` resizes (Qt::Edges bits); 0 for kHitNone.
int EdgesFor(HitArea area);

// "V" + the version without its last dot-separated part: "1.2.3.0" -> "V1.2.3"; a version
// without a dot is shown whole.
QString VersionText(const QString &version);

// The first geometry of a window that asks for `wanted`: shrunk to fit `available` (the
// screen's available geometry) and moved inside it; centred when it had to move.
QRect FitToAvailable(const QRect &wanted, const QRect &available);

// A place where the meter's drive may show up: a drive root, or a mounted volume with its
// name (label).
struct DriveCandidate {
    QString path;
    QString name;
};
// The meter's drive: the path of the last candidate whose path or name contains "VORIX"
// (case-sensitive); empty when none does.
QString MeterDriveRoot(const QList<DriveCandidate> &candidates);

}  // namespace windowrules
