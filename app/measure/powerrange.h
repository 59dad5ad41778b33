// Power ranges of the settings panel and the automatic range choice (no screen needed).
//
// A range is always handed to the device record as the pair (0, full scale) in its display
// unit; the unit token is one of "nw", "μW", "mw", "w" (see PowerUnit in the device layer).
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace powerrange {

// Items of the range box: index 0 is "Auto", 1..10 the fixed ranges 50 nW ... 10 W.
constexpr int kItemCount = 11;
constexpr int kAutoIndex = 0;

struct Range {
    double low = 0.0;
    double fullScale = 0.0;  // in `unit`
    QString unit;
};

// The item texts of the range box, in index order ("Auto", "50nw", ..., "10w").
QStringList ItemTexts();

// The range of a box item. Index 0 ("Auto" chosen by hand) gives the most sensitive range
// (0, 50) "nw", from which the next tick ranges automatically; an index outside 0..10
// gives the same.
Range ForIndex(int index);

// Whether automatic ranging must choose anew: the displayed value left the band between a
// tenth of the full scale and the full scale. A NaN value always asks for a new choice.
bool NeedsNewRange(double current, double fullScale);

// The automatic choice from the newest reading in whole nanowatts: the smallest full scale
// not below it among 50 nW, 500 nW, 5 μW, ..., 5 W; anything larger gives (0, 10) "w".
// Negative readings (a zero offset larger than the signal) count as 0.
Range ForRawNw(qint64 rawNw);

}  // namespace powerrange
