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
import time
import unittest

SDK_PYTHON = os.environ["TESSIVAR_SDK_PYTHON"]
sys.path.insert(0, SDK_PYTHON)
import tessivar  # noqa: E402

IDS = [int(x) for x in os.environ["TESSIVAR_TEST_IDS"].split(",")]
PORTS = os.environ.get("TESSIVAR_TEST_PORTS", "1-3,1-1.2").split(",")
POWER_NW = float(os.environ.get("TESSIVAR_TEST_POWER_NW", "1000"))
# Noise is 0.2 % (one sigma); 2 % bounds every sample with a wide margin.
TOLERANCE = 0.02 * POWER_NW
WAVELENGTH = 850  # the library and the simulated meter agree on the coefficient here


class BindingTest(unittest.TestCase):
    def tearDown(self):
        tessivar.release()


class OpenMeterTest(BindingTest):
    """Each case starts with the first meter open at WAVELENGTH."""

    def setUp(self):
        self.meter = tessivar.Meter(IDS[0])
        self.meter.wavelength = WAVELENGTH

    def tearDown(self):
        self.meter.close()
        super().tearDown()


class ScanAndIdentity(BindingTest):
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


class Settings(OpenMeterTest):
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

    def test_a_wavelength_that_is_not_whole_is_refused(self):
        self.meter.wavelength = 900.0  # whole, as a float
        self.assertEqual(self.meter.wavelength, 900)
        for bad in (850.5, "850", True):
            with self.assertRaises(tessivar.ArgumentError) as cm:
                self.meter.wavelength = bad
            self.assertIsInstance(cm.exception, ValueError)
        self.assertEqual(self.meter.wavelength, 900, "nothing was truncated and sent")


class Readings(OpenMeterTest):
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

    def test_power_in_watts_and_unix_time(self):
        self.assertAlmostEqual(self.meter.power, POWER_NW * 1e-9, delta=TOLERANCE * 1e-9)
        r = self.meter.read(1)[0]
        self.assertLess(abs(r.unix_ms - time.time() * 1000), 60000)
        self.assertEqual(r.time_ms - r.unix_ms, time.localtime().tm_gmtoff * 1000)
        self.assertEqual(int(r.datetime.timestamp() * 1000), r.unix_ms)

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
        got = []
        for r in self.meter.stream(duration=6.0):
            if not got:
                time.sleep(5.0)  # the library alone would keep only 401 = 4 s of samples
            got.append(r)
        self.assertGreater(len(got), 450)
        steps = [b.time_ms - a.time_ms for a, b in zip(got, got[1:])]
        self.assertLessEqual(max(steps), 20, "samples were lost while the caller slept")


class Errors(BindingTest):
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
            run = subprocess.run([sys.executable, example, out, "--count", "120", "--meter", str(IDS[0]),
                                  "--wavelength", str(WAVELENGTH)],
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(run.returncode, 0, run.stderr)
            with open(out, newline="") as f:
                rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["unix_ms", "local_ms", "time", "power_w", "power_dbm"])
        self.assertEqual(len(rows), 121)
        now_ms = time.time() * 1000
        for row in rows[1:]:
            self.assertAlmostEqual(float(row[3]) * 1e9, POWER_NW, delta=TOLERANCE)
            self.assertLess(abs(int(row[0]) - now_ms), 60000, "unix_ms is Unix time")
            stamp = datetime.datetime.fromisoformat(row[2])
            self.assertIsNotNone(stamp.tzinfo, "time carries its UTC offset")
            self.assertEqual(int(stamp.timestamp() * 1000), int(row[0]))


class ChoosingAMeter(BindingTest):
    def test_by_serial_port_or_id_text(self):
        with tessivar.Meter(IDS[1]) as meter:
            serial = meter.identity().head_serial
        with tessivar.Meter(serial=serial) as meter:
            self.assertEqual(meter.id, IDS[1])
        with tessivar.Meter(port=PORTS[0]) as meter:
            self.assertEqual(meter.id, IDS[0])
        with tessivar.Meter(PORTS[1]) as meter:
            self.assertEqual(meter.id, IDS[1])
        with tessivar.Meter(str(IDS[0])) as meter:
            self.assertEqual(meter.id, IDS[0])
        with self.assertRaises(tessivar.NoDeviceError):
            tessivar.Meter(serial="NOSUCH1")

    def test_no_name_with_several_meters_asks_for_one(self):
        with self.assertRaises(tessivar.ArgumentError) as cm:
            tessivar.Meter()
        self.assertIn("%d meters are attached" % len(IDS), str(cm.exception))

    def test_id_of_port_follows_the_library(self):
        self.assertEqual(tessivar.id_of_port("1-3"), 3 << 24)
        self.assertEqual(tessivar.id_of_port("2-1.2"), (1 << 24) + (2 << 16), "the bus is not part of the id")
        with self.assertRaises(tessivar.ArgumentError):
            tessivar.id_of_port("1-0")


class TheBinding(BindingTest):
    def test_a_closed_meter_says_so(self):
        meter = tessivar.Meter(IDS[0])
        meter.close()
        for use in (lambda: meter.wavelength, lambda: meter.identity(), lambda: meter.read(1),
                    lambda: meter.power):
            with self.assertRaises(tessivar.NotReadyError) as cm:
                use()
            self.assertIn("meter %d is closed" % IDS[0], str(cm.exception))

    def test_open_survives_one_late_reply_and_reports_a_time_out_when_every_ask_is_late(self):
        real = tessivar._lib

        class LateOnce:
            def __init__(self, failures):
                self.failures = failures

            def __getattr__(self, name):
                return getattr(real, name)

            def getSampleWavelength(self, meter_id, out):
                if self.failures > 0:
                    self.failures -= 1
                    return tessivar.ERR_ARGUMENT  # how the library reports a query time-out
                return real.getSampleWavelength(meter_id, out)

        try:
            tessivar._lib = LateOnce(1)
            with tessivar.Meter(IDS[0]) as meter:
                self.assertTrue(meter.is_ready)
            tessivar._lib = LateOnce(tessivar._QUERY_ATTEMPTS)
            with self.assertRaises(tessivar.NoReplyError) as cm:
                tessivar.Meter(IDS[0])
            self.assertIn("timed out", str(cm.exception))
        finally:
            tessivar._lib = real

    def test_a_meter_held_by_another_program_is_in_use_and_diagnostics_stay_quiet(self):
        holder = subprocess.Popen(
            [sys.executable, "-c", "import sys, time; sys.path.insert(0, %r); import tessivar; "
             "m = tessivar.Meter(%d); print('open', flush=True); time.sleep(30)" % (SDK_PYTHON, IDS[0])],
            stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(holder.stdout.readline().strip(), "open")
            with self.assertRaises(tessivar.MeterInUseError) as cm:
                tessivar.Meter(IDS[0])
            self.assertIn("meter in use by another program", str(cm.exception))
            self.assertEqual(cm.exception.code, tessivar.ERR_ARGUMENT)
            with tessivar.Meter(IDS[1]) as other:  # the other meter is free
                self.assertTrue(other.is_ready)
            # The library's "Error claiming interface" debug line stays off stderr.
            env = {k: v for k, v in os.environ.items() if k != "QT_LOGGING_RULES"}
            second = subprocess.run(
                [sys.executable, "-c", "import sys; sys.path.insert(0, %r); import tessivar\n"
                 "try:\n    tessivar.Meter(%d)\nexcept tessivar.MeterInUseError as e:\n    print(e)"
                 % (SDK_PYTHON, IDS[0])], capture_output=True, text=True, timeout=60, env=env)
            self.assertIn("in use by another program", second.stdout)
            self.assertNotIn("claiming", second.stderr)
        finally:
            holder.kill()
            holder.wait()


if __name__ == "__main__":
    unittest.main(verbosity=2)
