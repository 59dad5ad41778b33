#!/usr/bin/env python3
"""Logs the readings of one meter to a CSV file.

    python3 log_csv.py readings.csv --seconds 10 [--meter ID|SERIAL|PORT] [--wavelength NM]

Without --meter the only attached meter is used. Columns as `tessivar stream` writes them:
unix_ms (Unix time), local_ms (the library's stamp: local wall-clock ms counted from
1970-01-01), time (ISO 8601 with its UTC offset), power_w, power_dbm (empty when the power
is not above zero).
"""
import argparse
import csv
import os
import sys

try:
    import tessivar
except ImportError:  # run from the SDK folder without installing the binding
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import tessivar


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="CSV file to write")
    parser.add_argument("--meter", "--id", dest="meter",
                        help="meter id, head serial or USB port (default: the only meter attached)")
    limit = parser.add_mutually_exclusive_group()
    limit.add_argument("--seconds", type=float, default=None, help="how long to log (default 10)")
    limit.add_argument("--count", type=int, help="how many readings to log")
    parser.add_argument("--wavelength", type=int, help="measuring wavelength in nm")
    args = parser.parse_args()
    if args.seconds is None and args.count is None:
        args.seconds = 10.0

    try:
        written = 0
        with tessivar.Meter(args.meter) as meter, open(args.output, "w", newline="") as f:
            if args.wavelength is not None:
                meter.wavelength = args.wavelength
            out = csv.writer(f)
            out.writerow(["unix_ms", "local_ms", "time", "power_w", "power_dbm"])
            for r in meter.stream(duration=args.seconds, count=args.count):
                dbm = r.power_dbm
                out.writerow([r.unix_ms, r.time_ms, r.datetime.isoformat(timespec="milliseconds"),
                              "%.7g" % r.power_w, "" if dbm is None else "%.4f" % dbm])
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
