// The application soak's plan and verdicts, apart from windows, meters and files: what each
// simulated meter sends, which meter leaves when and how it comes back, and the checks over
// the recorded rows. Plain C++ (no Qt), so that the checks can be tested on made-up rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// ---- what the meters send ------------------------------------------------------------

// Each meter cycles through this many powers, one every kStepSeconds.
constexpr int kStepsPerMeter = 5;
constexpr double kStepSeconds = 4.0;
// A row matches a sent power within this share of it (plus kMatchAbsNw): the head's
// 16-bit ADC count and the host's calibration arithmetic round the power a little, and
// the recorder keeps whole nW. Neighbouring powers of the table lie 6 % apart.
constexpr double kMatchRel = 0.015;
constexpr double kMatchAbsNw = 1.0;
// The most meters the plan has distinct powers for (the application's own limit too).
constexpr int kMaxMeters = 8;

// The powers (nW) meter `index` (0-based) sends, in step order: noise-free values that no
// other meter sends, all between 10 µW and 100 µW (whole nW, exact in the file's 'g' 6 form).
std::vector<double> MeterPowers(int index);

enum class Origin { Recorded, Zero, OtherMeter, Unknown };
struct Match {
    Origin origin = Origin::Unknown;
    int meter = -1;  // the meter whose power it is (Recorded, OtherMeter)
};
// Which meter, of `meters`, sent `valueNw`, as seen from a recording of meter `recorded`.
Match Classify(double valueNw, int recorded, int meters);

// ---- who leaves, and how they come back ---------------------------------------------

struct Departure {
    int meter = 0;           // 0 is the recorded meter
    bool otherPort = false;  // false: Replug at its port; true: a twin at another free port
};
// The e-th departure (0-based) of a run with `meters` meters: the recorded meter every
// other time (even e), the others in turn in between. Each meter alternates between the
// two ways back, the recorded meter starting with another port (the harder case: a new
// device id that has to be selected again) and the others with a replug, so that a short
// run with two departures sees both.
Departure DepartureAt(int e, int meters);

// Root ports 1..portCount; `taken` holds the ones in use. The first free port after
// `current` (wrapping around), or -1 when all are taken.
int NextFreePort(const std::vector<int>& taken, int current, int portCount);

// ---- checks over the recorded rows --------------------------------------------------

struct Row {
    int64_t number = 0;  // sample number (the recorder's tick count at that row)
    double valueNw = 0;
};

// A time the recorded meter was away, in recorder ticks: the tick count when it was
// unplugged and when it delivered again (-1: it never did before the run ended).
struct Absence {
    int64_t unplugTick = 0;
    int64_t backTick = -1;
};
// The app may not notice the unplug for a while: rows up to this many ticks after it are
// allowed (the stale limit of a 100 ms tick against the meter's cadence, with room).
constexpr int64_t kStaleAllowanceTicks = 15;
// The soak notices the meter's return by polling, up to this many ticks after the
// recorder may have taken its first sample again.
constexpr int64_t kObserveSlackTicks = 2;

// Numbers of rows that lie inside an absence: after unplugTick + kStaleAllowanceTicks and
// before backTick - kObserveSlackTicks (to the end of the run, `endTick`, when it never came
// back). Rows must be in number order.
std::vector<int64_t> RowsInAbsence(const std::vector<Row>& rows, const Absence& a, int64_t endTick);

// Sample numbers over all files of a run, in file order: the first position where a
// number does not exceed the one before (-1 if they strictly increase), and how many
// numbers were skipped between the first and the last row.
struct Numbering {
    int64_t firstDisorder = -1;
    int64_t skipped = 0;
};
Numbering CheckNumbering(const std::vector<Row>& rows);

// Median and largest of `values` (0 for none).
double Median(std::vector<double> values);
double Largest(const std::vector<double>& values);

// "meter 2" / "the recorded meter" / "0" / "unknown" for a printed mismatch.
std::string Describe(const Match& m);

}  // namespace soak
