#include "windowrules.h"

#include <QtGlobal>

namespace windowrules {

HitArea HitTest(int x, int y, int width, int height, bool maximisedOrFullScreen)
{
    if (maximisedOrFullScreen)
        return kHitNone;
    const bool left = x < kBorderPx;
    const bool right = x >= width - kBorderPx;
    const bool top = y < kBorderPx;
    const bool bottom = y >= height - kBorderPx;
    if (left && top)
        return kHitTopLeft;
    if (right && top)
        return kHitTopRight;
    if (left && bottom)
        return kHitBottomLeft;
    if (right && bottom)
        return kHitBottomRight;
    if (left)
        return kHitLeft;
    if (right)
        return kHitRight;
    if (top)
        return kHitTop;
    if (bottom)
        return kHitBottom;
    return kHitNone;
}

int EdgesFor(HitArea area)
{
    switch (area) {
    case kHitLeft: return Qt::LeftEdge;
    case kHitRight: return Qt::RightEdge;
    case kHitTop: return Qt::TopEdge;
    case kHitBottom: return Qt::BottomEdge;
    case kHitTopLeft: return Qt::TopEdge | Qt::LeftEdge;
    case kHitTopRight: return Qt::TopEdge | Qt::RightEdge;
    case kHitBottomLeft: return Qt::BottomEdge | Qt::LeftEdge;
    case kHitBottomRight: return Qt::BottomEdge | Qt::RightEdge;
    case kHitNone: break;
    }
    return 0;
}

QString VersionText(const QString &version)
{
    const int dot = version.lastIndexOf(QLatin1Char('.'));
    return QStringLiteral("V%1").arg(dot < 0 ? version : version.left(dot));
}

QRect FitToAvailable(const QRect &wanted, const QRect &available)
{
    if (!available.isValid())
        return wanted;
    if (available.contains(wanted))
        return wanted;
    QRect r(wanted.topLeft(), wanted.size().boundedTo(available.size()));
    r.moveCenter(available.center());
    return r;
}

QString MeterDriveRoot(const QList<DriveCandidate> &candidates)
{
    const QString mark = QStringLiteral("VORIX");
    QString found;
    for (const DriveCandidate &c : candidates)
        if (c.path.contains(mark) || c.name.contains(mark))
            found = c.path;
    return found;
}

}  // namespace windowrules
