// libFuzzer target: arbitrary bytes as a measurement data file. The reader must neither
// crash nor hang, must hand out only finite keys and values, and must agree with the
// reading rules written down literally (tests/app/files/reference_reader.h) whenever no
// line is over its length limit.
#include "datafile.h"
#include "reference_reader.h"

#include <QByteArray>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QVector<double> keys, values;
    const datafile::ReadOutcome got =
        datafile::ReadDataBytes(bytes, 1700000000, [&](double k, double v) {
            if (!std::isfinite(k) || !std::isfinite(v))
                std::abort();
            keys.append(k);
            values.append(v);
        });
    if (got.rows != keys.size())
        std::abort();
    if (got.skippedLines > 0)
        return 0;
    const reference::Result want = reference::Read(bytes, 1700000000);
    if (keys != want.keys || values != want.values)
        std::abort();
    if (!reference::SameHeader(got.header, want.header))
        std::abort();
    return 0;
}
