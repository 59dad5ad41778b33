#include "powerrange.h"

#include <cmath>

namespace powerrange {

namespace {

struct Item {
    const char *text;  // UTF-8
    const char *unit;  // UTF-8
    double fullScale;
};

// Index 0 stands for "Auto"; its pair is what choosing "Auto" by hand sets.
const Item kItems[kItemCount] = {
    {"Auto", "nw", 50},   {"50nw", "nw", 50},   {"500nw", "nw", 500}, {"5μw", "μW", 5},
    {"50μw", "μW", 50},   {"500μw", "μW", 500}, {"5mw", "mw", 5},     {"50mw", "mw", 50},
    {"500mw", "mw", 500}, {"5w", "w", 5},       {"10w", "w", 10},
};

Range FromItem(const Item &item)
{
    Range r;
    r.low = 0.0;
    r.fullScale = item.fullScale;
    r.unit = QString::fromUtf8(item.unit);
    return r;
}

}  // namespace

QStringList ItemTexts()
{
    QStringList texts;
    for (const Item &item : kItems)
        texts << QString::fromUtf8(item.text);
    return texts;
}

Range ForIndex(int index)
{
    if (index < 0 || index >= kItemCount)
        index = kAutoIndex;
    return FromItem(kItems[index]);
}

bool NeedsNewRange(double current, double fullScale)
{
    // Written so that NaN compares as "outside".
    return !(current >= fullScale / 10.0 && current <= fullScale);
}

Range ForRawNw(qint64 rawNw)
{
    // Fixed items 1..9 are the automatic candidates: their full scales in nanowatts.
    static const qint64 kScaleNw[] = {50LL,      500LL,      5000LL,      50000LL,     500000LL,
                                      5000000LL, 50000000LL, 500000000LL, 5000000000LL};
    for (int i = 0; i < 9; ++i) {
        if (rawNw <= kScaleNw[i])
            return FromItem(kItems[i + 1]);
    }
    return FromItem(kItems[10]);
}

}  // namespace powerrange
