#!/usr/bin/env python3
"""Logs the readings of one meter to a CSV file.

    python3 log_csv.py readings.csv --seconds 10 [--id ID] [--wavelength NM]

Without --id the first meter found is used. Columns: time_ms (the library's time stamp),
time (local time), power_w, power_dbm (empty when the power is not above zero).
"""
import argparse
import csv
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import tessivar  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="CSV file to write")
    parser.add_argument("--id", type=int, help="meter id (default: the first meter found)")
    limit = parser.add_mutually_exclusive_group()
    limit.add_argument("--seconds", type=float, default=None, help="how long to log (default 10)")
    limit.add_argument("--count", type=int, help="how many readings to log")
    parser.add_argument("--wavelength", type=int, help="measuring wavelength in nm")
    args = parser.parse_args()
    if args.seconds is None and args.count is None:
        args.seconds = 10.0

    try:
        ids = tessivar.scan()
        if not ids:
            print("No meter found.", file=sys.stderr)
            return 1
        meter_id = args.id if args.id is not None else ids[0]
        written = 0
        with tessivar.Meter(meter_id) as meter, open(args.output, "w", newline="") as f:
            if args.wavelength is not None:
                meter.wavelength = args.wavelength
            out = csv.writer(f)
            out.writerow(["time_ms", "time", "power_w", "power_dbm"])
            for r in meter.stream(duration=args.seconds, count=args.count):
                dbm = r.power_dbm
                out.writerow([r.time_ms, r.time.isoformat(timespec="milliseconds"),
                              repr(r.power_w), "" if dbm is None else "%.4f" % dbm])
                written += 1
        print("%d readings written to %s" % (written, args.output))
        return 0
    except tessivar.TessivarError as exc:
        print("error: %s (code %d)" % (exc, exc.code), file=sys.stderr)
        return 1
    except OSError as exc:  # library not found, output file not writable
        print("error: %s" % exc, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 0
    finally:
        tessivar.release()


if __name__ == "__main__":
    sys.exit(main())
