"""The Python binding against simulated meters. Run inside tessivar-sim, e.g.

    tessivar-sim --port 1-3 --port 1-1.2 --power 2500 -- python3 test_tessivar.py

Environment: TESSIVAR_LIBRARY (the library to load), TESSIVAR_SDK_PYTHON (folder of
tessivar.py), TESSIVAR_TEST_IDS (the ids the launcher's meters get, comma-separated),
TESSIVAR_TEST_POWER_NW (the simulated power).
"""
import csv
import datetime
import os
import subprocess
import sys
import tempfile
import unittest

SDK_PYTHON = os.environ["TESSIVAR_SDK_PYTHON"]
sys.path.insert(0, SDK_PYTHON)
import tessivar  # noqa: E402

IDS = [int(x) for x in os.environ["TESSIVAR_TEST_IDS"].split(",")]
POWER_NW = float(os.environ.get("TESSIVAR_TEST_POWER_NW", "1000"))
# Noise is 0.2 % (one sigma); 2 % bounds every sample with a wide margin.
TOLERANCE = 0.02 * POWER_NW
WAVELENGTH = 850  # the library and the simulated meter agree on the coefficient here


class ScanAndIdentity(unittest.TestCase):
    def tearDown(self):
        tessivar.release()

    def test_scan_finds_every_meter(self):
        self.assertEqual(sorted(tessivar.scan()), sorted(IDS))
        self.assertEqual(sorted(tessivar.scan()), sorted(IDS), "a second scan keeps the ids")

    def test_identity_and_calibration_of_each_meter(self):
        serials = set()
        for meter_id in IDS:
            with tessivar.Meter(meter_id) as meter:
                ident = meter.identity()
                for field in ident:
                    self.assertIsInstance(field, str)
                    self.assertTrue(field, ident)
                serials.add(ident.head_serial)
                self.assertEqual(meter.wavelength_range, (400, 1100))
                self.assertEqual(meter.calibration_date, "2026-01-15")
                self.assertTrue(meter.probe_attached)
        self.assertEqual(len(serials), len(IDS), "each meter has its own serial")


class Settings(unittest.TestCase):
    def setUp(self):
        self.meter = tessivar.Meter(IDS[0])

    def tearDown(self):
        self.meter.close()
        tessivar.release()

    def test_wavelength_and_average_read_back(self):
        self.meter.wavelength = 980
        self.assertEqual(self.meter.wavelength, 980)
        self.meter.average = 4
        self.assertEqual(self.meter.average, 4)

    def test_wavelength_outside_the_probe_range_raises_with_the_library_code(self):
        self.meter.wavelength = 900
        with self.assertRaises(tessivar.WavelengthRangeError) as cm:
            self.meter.wavelength = 1550
        self.assertEqual(cm.exception.code, tessivar.ERR_ARGUMENT)
        self.assertIsInstance(cm.exception, tessivar.TessivarError)
        self.assertEqual(self.meter.wavelength, 900, "nothing was sent")


class Readings(unittest.TestCase):
    def setUp(self):
        self.meter = tessivar.Meter(IDS[0])
        self.meter.wavelength = WAVELENGTH

    def tearDown(self):
        self.meter.close()
        tessivar.release()

    def test_read_gives_floats_with_time_stamps(self):
        readings = self.meter.read(10)
        self.assertEqual(len(readings), 10)
        for r in readings:
            self.assertIsInstance(r.power_nw, float)
            self.assertIsInstance(r.time_ms, int)
            self.assertAlmostEqual(r.power_nw, POWER_NW, delta=TOLERANCE)
            self.assertAlmostEqual(r.power_w, r.power_nw / 1e9)
        times = [r.time_ms for r in readings]
        self.assertEqual(times, sorted(times))
        self.assertGreater(times[-1], times[0])
        # Local wall-clock time, as the library stamps it.
        self.assertLess(abs(readings[0].time - datetime.datetime.now()), datetime.timedelta(minutes=5))
        self.assertFalse(self.meter._streaming, "read stops what it started")

    def test_read_with_a_timeout_raises_when_the_readings_do_not_arrive(self):
        with self.assertRaises(tessivar.NoReplyError) as cm:
            self.meter.read(100000, timeout=0.3)  # 100 samples/s: 30 at most
        self.assertEqual(cm.exception.code, tessivar.ERR_NO_REPLY)
        self.assertEqual(len(self.meter.read(3, timeout=5.0)), 3)

    def test_stream_delivers_exactly_the_count(self):
        got = list(self.meter.stream(count=250))
        self.assertEqual(len(got), 250)
        steps = {b.time_ms - a.time_ms for a, b in zip(got, got[1:])}
        self.assertLessEqual(max(steps), 20, "no gap in a 100 samples/s stream")

    def test_stream_keeps_polling_while_the_caller_is_slow(self):
        import time
        got = []
        for r in self.meter.stream(duration=6.0):
            if not got:
                time.sleep(5.0)  # the library alone would keep only 401 = 4 s of samples
            got.append(r)
        self.assertGreater(len(got), 450)
        steps = [b.time_ms - a.time_ms for a, b in zip(got, got[1:])]
        self.assertLessEqual(max(steps), 20, "samples were lost while the caller slept")


class Errors(unittest.TestCase):
    def tearDown(self):
        tessivar.release()

    def test_unknown_id_raises_no_device_with_code_minus_one(self):
        with self.assertRaises(tessivar.NoDeviceError) as cm:
            tessivar.Meter(12345)
        self.assertEqual(cm.exception.code, -1)
        self.assertIn("12345", str(cm.exception))

    def test_context_manager_closes_and_later_calls_raise(self):
        with tessivar.Meter(IDS[0]) as meter:
            self.assertTrue(meter.is_open)
        self.assertFalse(meter.is_open)
        with self.assertRaises(tessivar.NotReadyError) as cm:
            meter.wavelength_range
        self.assertEqual(cm.exception.code, -3)
        meter.close()  # a second close is harmless


class CsvExample(unittest.TestCase):
    def test_example_logs_the_requested_readings(self):
        example = os.path.join(SDK_PYTHON, "examples", "log_csv.py")
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "log.csv")
            run = subprocess.run([sys.executable, example, out, "--count", "120", "--id", str(IDS[0]),
                                  "--wavelength", str(WAVELENGTH)],
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(run.returncode, 0, run.stderr)
            with open(out, newline="") as f:
                rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["time_ms", "time", "power_w", "power_dbm"])
        self.assertEqual(len(rows), 121)
        for row in rows[1:]:
            self.assertAlmostEqual(float(row[2]) * 1e9, POWER_NW, delta=TOLERANCE)
            datetime.datetime.fromisoformat(row[1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
