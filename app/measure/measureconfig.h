// The measurement settings file: an INI file with group "dataConfig" holding the
// wavelength ("waveLength", nm), the attenuation compensation ("attenuation", dB) and the
// averaging count ("averageTime"), as Qt's settings class writes them, and the display unit
// ("displayUnit": "W", "dBm" or "dB") with its reference power ("referenceNw", nW, only
// while one is set). A file without the last two loads as watts without a reference. No
// screen needed.
#pragma once

#include <QString>

#include <optional>

namespace measureconfig {

// Limits of the settings panel's spin boxes; nothing outside them ever reaches a meter.
constexpr int kWaveMin = 1, kWaveMax = 10000;
constexpr double kAttenMin = -9999.0, kAttenMax = 9999.0;
constexpr int kAttenDecimals = 2;
constexpr int kAverageMin = 1, kAverageMax = 1000;

struct Values {
    int waveLength = 700;
    double attenuation = 0.0;
    int averageTime = 1;
    QString displayUnit = QStringLiteral("W");
    double referenceNw = 0.0;  // 0: none, and no key is written (an old one is removed)
};

// What a file holds; a key missing from the file stays empty.
struct Loaded {
    std::optional<int> waveLength;
    std::optional<double> attenuation;
    std::optional<int> averageTime;
    std::optional<QString> displayUnit;  // one of displayunit::ItemNames()
    std::optional<double> referenceNw;   // above 0; a stored 0 means none
};

// Writes the keys into `path`, keeping other groups and keys of an existing file.
// On failure returns false with a Chinese reason in `error` (the file may then be as before).
bool Write(const QString &path, const Values &values, QString *error);

// Reads the keys. Returns false with a Chinese reason in `error`, and leaves `out` empty,
// when the file cannot be read, is not a valid INI file, a present number key holds
// something other than a finite number (an integer for the two integer keys, at least 0 for
// the reference), or the display unit is none of the three names. Values out
// of the panel's limits are clamped (the attenuation also rounded to 2 decimals).
bool Read(const QString &path, Loaded *out, QString *error);

}  // namespace measureconfig
