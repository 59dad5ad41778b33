"""Python binding of the Tessivar device library for USB optical power meters.

Standard library only (ctypes). The library is loaded from the path in the environment
variable TESSIVAR_LIBRARY, else by its usual name (libtessivar.so.1, tessivar.dll), else
from the installation this file belongs to.

    import tessivar

    with tessivar.Meter() as meter:          # the only meter attached
        print(meter.identity())
        meter.wavelength = 850
        for reading in meter.read(5):
            print(reading.time, reading.power_w, reading.power_dbm)

A meter is named by its id (``Meter(16777216)``), its head serial
(``Meter(serial="S110260101")``) or its USB port path (``Meter(port="1-1.2")``); with
exactly one meter attached it may be left out.

Powers are floats in the library's unit, nanowatts (``power_nw``), with ``power_w`` and
``power_dbm`` derived from it. Errors are raised as TessivarError subclasses carrying the
library's return code in ``code``. A Meter may be used from one thread at a time; the
library itself allows several meters to be used from several threads at once.

The library's USB diagnostics (Qt debug messages on stderr) are silenced unless the
environment sets QT_LOGGING_RULES (``QT_LOGGING_RULES=default.debug=true`` shows them).
"""

import atexit
import ctypes
import datetime
import glob
import math
import numbers
import os
import queue
import re
import sys
import threading
import time
from collections import namedtuple

__all__ = [
    "TessivarError", "NoDeviceError", "NoReplyError", "NotReadyError", "ArgumentError",
    "WavelengthRangeError", "MeterInUseError", "Reading", "Identity", "Meter", "scan",
    "open_log", "release", "load_library", "id_of_port", "OK", "ERR_NO_DEVICE",
    "ERR_NO_REPLY", "ERR_NOT_INITED", "ERR_ARGUMENT",
]

OK = 0
ERR_NO_DEVICE = -1    # no meter with this id is known to the library
ERR_NO_REPLY = -2     # the meter gave no reply in time
ERR_NOT_INITED = -3   # the meter is not open or its calibration has not arrived yet
ERR_ARGUMENT = -4     # bad argument, empty reply, wavelength outside the probe's range, USB open failed

MAX_DEVICES = 8
PROBE_ATTACHED = 2
_QUEUE_RECORDS = 401  # the library keeps at most this many records per meter
_QUERY_ATTEMPTS = 5   # a query that times out under load is asked again


class TessivarError(Exception):
    """A library call failed. ``code`` is its return code, ``function`` its name."""

    def __init__(self, message, code, function=None):
        super().__init__(message)
        self.code = code
        self.function = function


class NoDeviceError(TessivarError):
    """No meter with this id (code -1)."""


class NoReplyError(TessivarError):
    """The meter did not answer in time (code -2)."""


class NotReadyError(TessivarError):
    """The meter is not open or not initialised (code -3)."""


class ArgumentError(TessivarError, ValueError):
    """The library or the binding refused the request or its argument (code -4)."""


class WavelengthRangeError(ArgumentError):
    """A wavelength outside the probe's range (code -4)."""


class MeterInUseError(ArgumentError):
    """The meter is held by another program (openDev returned -4)."""


_ERRORS = {
    ERR_NO_DEVICE: (NoDeviceError, "no meter with this id is known to the library"),
    ERR_NO_REPLY: (NoReplyError, "timed out (no reply in time)"),
    ERR_NOT_INITED: (NotReadyError, "the meter is not ready"),
    ERR_ARGUMENT: (ArgumentError, "the meter refused the request"),
}


def _error(code, function, what):
    cls, reason = _ERRORS.get(code, (TessivarError, "code %d" % code))
    return cls("%s: %s (%s returned %d)" % (what, reason, function, code), code, function)


def _query_error(code, function, what):
    """A query's failure. The library reports a query without a reply in time (or with an
    empty one) as -4: that is a reply that did not come, so NoReplyError."""
    if code in (ERR_ARGUMENT, ERR_NO_REPLY):
        return NoReplyError("%s: timed out (no reply in time; %s returned %d)" % (what, function, code),
                            code, function)
    return _error(code, function, what)


class _PowerData(ctypes.Structure):
    _fields_ = [("time", ctypes.c_int64), ("power", ctypes.c_double)]


class Reading(namedtuple("Reading", ["time_ms", "power_nw", "utc_offset_s"], defaults=(0,))):
    """One sample: ``time_ms`` is the library's time stamp (local wall-clock milliseconds
    counted from 1970-01-01, which is not Unix time), ``power_nw`` the power in nanowatts,
    ``utc_offset_s`` the offset of local time from UTC when the meter was opened (the
    library's stamps keep that offset for the whole open)."""

    __slots__ = ()

    @property
    def time(self):
        """The time stamp as a naive datetime in local time."""
        return datetime.datetime(1970, 1, 1) + datetime.timedelta(milliseconds=self.time_ms)

    @property
    def unix_ms(self):
        """True Unix time in milliseconds (UTC)."""
        return self.time_ms - self.utc_offset_s * 1000

    @property
    def datetime(self):
        """The time stamp as an aware datetime in local time (ISO 8601 with its offset
        by ``.isoformat()``)."""
        zone = datetime.timezone(datetime.timedelta(seconds=self.utc_offset_s))
        return self.time.replace(tzinfo=zone)

    @property
    def power_w(self):
        return self.power_nw / 1e9

    @property
    def power_dbm(self):
        """Power in dBm, or None when it is not above zero."""
        if not math.isfinite(self.power_nw) or self.power_nw <= 0.0:
            return None
        return 10.0 * math.log10(self.power_nw) - 60.0


Identity = namedtuple("Identity", ["head_name", "head_serial", "probe_name", "probe_serial", "firmware"])

_lib = None
_lib_lock = threading.Lock()


def _candidates():
    env = os.environ.get("TESSIVAR_LIBRARY")
    if env:
        return [env]  # an explicit choice is not second-guessed
    here = os.path.dirname(os.path.abspath(__file__))
    name = "tessivar.dll" if sys.platform == "win32" else "libtessivar.so.1"
    names = []
    beside = os.path.join(here, name)  # a copy of the library next to this file
    if os.path.exists(beside):
        names.append(beside)
    names.append(name)  # the usual library path
    # The prefix this file was installed into: the SDK folder
    # (<prefix>/share/tessivar/sdk/python/tessivar.py) or a Python installation into the
    # same prefix (<prefix>/lib/python3.X/site-packages/tessivar.py, pip install --prefix).
    prefixes = [os.path.join(here, "..", "..", "..", ".."), os.path.join(here, "..", "..", "..")]
    for prefix in prefixes:
        prefix = os.path.abspath(prefix)
        for pattern in ("lib/libtessivar.so.1", "lib/*/libtessivar.so.1", "lib64/libtessivar.so.1",
                        "bin/tessivar.dll"):
            names.extend(p for p in sorted(glob.glob(os.path.join(prefix, pattern))) if p not in names)
    return names


def _declare(lib):
    i, p, d = ctypes.c_int, ctypes.c_char_p, ctypes.c_double
    vp = ctypes.c_void_p
    signatures = {
        "openLog": [p], "scanDev": [ctypes.POINTER(i), i], "releaseDev": [],
        "openDev": [i], "closeDev": [i], "isDevOpen": [i], "isInited": [i],
        "startTransfer": [i], "stopTransfer": [i],
        "getData": [i, ctypes.POINTER(_PowerData), i],
        "getSingleData": [i, ctypes.POINTER(d), ctypes.POINTER(i)],
        "readDevName": [i, ctypes.c_char_p, i], "readDevSerial": [i, ctypes.c_char_p, i],
        "readDetName": [i, ctypes.c_char_p, i], "readDetSerial": [i, ctypes.c_char_p, i],
        "readVersion": [i, ctypes.c_char_p, i],
        "setAverage": [i, i], "getAverage": [i, ctypes.POINTER(ctypes.c_ushort)],
        "setSampleWavelength": [i, i], "getSampleWavelength": [i, ctypes.POINTER(i)],
        "getDetectorState": [i, ctypes.POINTER(i)],
        "getZeroOffset": [i, ctypes.POINTER(d)], "resetZeroOffset": [i],
        "getWaveRange": [i, ctypes.POINTER(i), ctypes.POINTER(i)],
        "getCalibrationDate": [i, vp],
    }
    for name, args in signatures.items():
        fn = getattr(lib, name)
        fn.argtypes = args
        fn.restype = i


def load_library(path=None):
    """Loads the library (once per process) and returns the ctypes handle."""
    global _lib
    with _lib_lock:
        if _lib is not None:
            return _lib
        # The library reports USB trouble on Qt's debug stream (stderr); the binding
        # reports failures as exceptions instead. A user's own logging rules stay.
        os.environ.setdefault("QT_LOGGING_RULES", "default.debug=false")
        tried = []
        for name in ([path] if path else _candidates()):
            try:
                lib = ctypes.CDLL(name)
            except OSError as exc:
                tried.append("%s (%s)" % (name, exc))
                continue
            _declare(lib)
            _lib = lib
            # Meters left open at exit would still have running device threads while the
            # interpreter unloads the library.
            atexit.register(release)
            return lib
        raise OSError("cannot load the Tessivar library; set TESSIVAR_LIBRARY to its path. Tried: "
                      + "; ".join(tried))


def open_log(directory):
    """Writes the library's rotating log file into ``directory`` (created if missing)."""
    load_library().openLog(os.fsencode(directory))


def scan():
    """Enumerates the attached meters and returns their ids. Meters no longer attached are
    closed and forgotten; meters that stay attached keep their id and state."""
    ids = (ctypes.c_int * MAX_DEVICES)()
    n = load_library().scanDev(ids, MAX_DEVICES)
    if n < 0:
        raise _error(n, "scanDev", "scanning for meters failed")
    return list(ids[:n])


def release():
    """Closes every meter and shuts the library down (it restarts on the next scan)."""
    if _lib is not None:
        _lib.releaseDev()


def id_of_port(port):
    """The id the library gives the meter at a USB port path such as "1-1.2" (bus 1, port
    1 of the root hub, then port 2). The bus is not part of the id."""
    m = re.fullmatch(r"(\d{1,3})-(\d{1,3}(?:\.\d{1,3})*)", str(port))
    ports = [int(p) for p in m.group(2).split(".")] if m else []
    if not ports or len(ports) > 10 or not all(1 <= p <= 255 for p in ports):
        raise ArgumentError("invalid USB port path %r (expected e.g. 1-1.2)" % (port,), ERR_ARGUMENT)
    if len(ports) <= 4:
        packed = 0
        for k in range(4):
            packed = (packed << 8) | (ports[k] if k < len(ports) else 0)
        if packed < 0x80000000:
            return packed
        negated = (1 << 32) - packed  # the library's absolute value of a negative int32
        return negated - (1 << 32) if negated >= (1 << 31) else negated
    value = int("".join(str(p) for p in ports))
    return value if value <= 0x7FFFFFFF else 0


def _device_node(meter_id):
    """/dev/bus/usb/BBB/DDD of the meter with this id (Linux sysfs), or None."""
    root = "/sys/bus/usb/devices"
    try:
        names = os.listdir(root)
    except OSError:
        return None
    for name in names:
        try:
            if id_of_port(name) != meter_id:
                continue
        except ArgumentError:
            continue
        try:
            def attr(a):
                with open(os.path.join(root, name, a)) as f:
                    return f.read().strip()
            if (attr("idVendor"), attr("idProduct")) != ("4306", "5741"):
                continue
            return "/dev/bus/usb/%03d/%03d" % (int(attr("busnum")), int(attr("devnum")))
        except (OSError, ValueError):
            return None
    return None


def _open_refused(meter_id):
    """The error for openDev's -4: another program holds the meter, unless its device
    node is not accessible to this user."""
    node = _device_node(meter_id)
    if node and os.path.exists(node) and not os.access(node, os.R_OK | os.W_OK):
        return ArgumentError("cannot open meter %d: no permission on its device node %s (install "
                             "the udev rule)" % (meter_id, node), ERR_ARGUMENT, "openDev")
    return MeterInUseError("cannot open meter %d: meter in use by another program" % meter_id,
                           ERR_ARGUMENT, "openDev")


class Meter:
    """One meter, opened on construction (``open=False`` to open later) and closed by
    ``close()`` or at the end of a ``with`` block.

    The meter is named by its id as ``scan()`` returns it, by ``serial=`` (the head serial)
    or ``port=`` (the USB port path, "1-1.2"); a string as the first argument may be any of
    the three. With no name at all, the only attached meter is opened (ArgumentError when
    there are several). If the library does not know an id yet, a scan is made first."""

    def __init__(self, meter=None, open=True, timeout=3.0, serial=None, port=None):
        self._lib = load_library()
        self._opened = False
        self._streaming = False
        self.utc_offset_s = 0
        self.id = self._resolve(meter, serial, port, timeout)
        if open:
            self.open(timeout)

    @staticmethod
    def _resolve(meter, serial, port, timeout):
        if sum(x is not None for x in (meter, serial, port)) > 1:
            raise ArgumentError("name the meter once: by id, serial= or port=", ERR_ARGUMENT)
        if isinstance(meter, str):
            text = meter.strip()
            if re.fullmatch(r"\d+", text):
                meter = int(text)
            elif re.fullmatch(r"\d+-[\d.]+", text):
                meter, port = None, text
            else:
                meter, serial = None, text
        if meter is not None:
            if isinstance(meter, bool) or not isinstance(meter, numbers.Integral):
                raise ArgumentError("a meter id is a whole number, got %r" % (meter,), ERR_ARGUMENT)
            return int(meter)
        if port is not None:
            return id_of_port(port)
        attached = scan()
        if not attached:
            raise NoDeviceError("no meter found", ERR_NO_DEVICE, "scanDev")
        if serial is None:
            if len(attached) > 1:
                raise ArgumentError("%d meters are attached (ids %s): name one by id, serial= or port="
                                    % (len(attached), ", ".join(map(str, attached))), ERR_ARGUMENT)
            return attached[0]
        for meter_id in attached:
            try:
                with Meter(meter_id, timeout=timeout) as candidate:
                    if candidate._text("readDevSerial") == serial:
                        return meter_id
            except TessivarError:
                continue  # in use, not answering: not the one that can be opened
        raise NoDeviceError("no meter with head serial %s is attached (ids: %s)"
                            % (serial, ", ".join(map(str, attached))), ERR_NO_DEVICE)

    # ---- life cycle --------------------------------------------------------------------

    def open(self, timeout=3.0):
        """Opens the meter and waits until its calibration has been read."""
        rc = self._lib.openDev(self.id)
        if rc == ERR_NO_DEVICE:
            attached = scan()
            if self.id not in attached:
                raise NoDeviceError("no meter with id %d is attached (attached: %s)"
                                    % (self.id, ", ".join(map(str, attached)) or "none"),
                                    ERR_NO_DEVICE, "openDev")
            rc = self._lib.openDev(self.id)
        if rc == ERR_ARGUMENT:
            raise _open_refused(self.id)
        if rc != OK:
            raise _error(rc, "openDev", "cannot open meter %d" % self.id)
        self._opened = True
        self.utc_offset_s = time.localtime().tm_gmtoff
        deadline = time.monotonic() + timeout
        while self._lib.isInited(self.id) != 1:
            if self._lib.isDevOpen(self.id) != 1 or time.monotonic() >= deadline:
                self.close()
                raise NotReadyError("meter %d is not answering (its calibration did not arrive)"
                                    % self.id, ERR_NOT_INITED, "isInited")
            time.sleep(0.01)
        # The meter keeps its wavelength and zero offset across sessions, the library
        # starts from its own defaults: reading them makes the library apply them. A read
        # that times out once under load is asked again before the open fails (_call).
        try:
            self.wavelength
            self.zero_offset
        except TessivarError:
            self.close()
            raise

    def _check_open(self):
        if not self._opened:
            raise NotReadyError("meter %d is closed" % self.id, ERR_NOT_INITED)

    def _call(self, function, *args, retry_on=(ERR_NO_REPLY, ERR_ARGUMENT)):
        """Calls a library function on this meter; a call that times out (a late reply
        under load) is made again, at most _QUERY_ATTEMPTS times in all."""
        for attempt in range(_QUERY_ATTEMPTS):
            rc = getattr(self._lib, function)(self.id, *args)
            if rc not in retry_on or attempt + 1 == _QUERY_ATTEMPTS:
                return rc
            time.sleep(0.01)

    def close(self):
        """Stops a running measurement and closes the meter. Safe to call twice."""
        if self._streaming:
            self.stop()
        if self._opened:
            self._lib.closeDev(self.id)
            self._opened = False

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        self.close()
        return False

    def __repr__(self):
        return "Meter(%d)" % self.id

    @property
    def is_open(self):
        return self._opened and self._lib.isDevOpen(self.id) == 1

    @property
    def is_ready(self):
        return self._opened and self._lib.isInited(self.id) == 1

    # ---- identity ----------------------------------------------------------------------

    def _text(self, function):
        self._check_open()
        buf = ctypes.create_string_buffer(64)
        rc = self._call(function, buf, len(buf))
        if rc != OK:
            raise _query_error(rc, function, "cannot read a text of meter %d" % self.id)
        return buf.value.decode("ascii", "replace")

    def identity(self):
        return Identity(self._text("readDevName"), self._text("readDevSerial"),
                        self._text("readDetName"), self._text("readDetSerial"),
                        self._text("readVersion"))

    @property
    def firmware(self):
        return self._text("readVersion")

    @property
    def calibration_date(self):
        self._check_open()
        buf = ctypes.create_string_buffer(10)
        rc = self._lib.getCalibrationDate(self.id, buf)
        if rc != OK:
            raise _error(rc, "getCalibrationDate", "cannot read the calibration date")
        return buf.raw.split(b"\0", 1)[0].decode("ascii", "replace")

    # ---- settings ----------------------------------------------------------------------

    @property
    def wavelength_range(self):
        """(start, end) of the probe's range in nm."""
        self._check_open()
        start, end = ctypes.c_int(), ctypes.c_int()
        rc = self._lib.getWaveRange(self.id, ctypes.byref(start), ctypes.byref(end))
        if rc != OK:
            raise _error(rc, "getWaveRange", "cannot read the wavelength range")
        return start.value, end.value

    @property
    def wavelength(self):
        """Measuring wavelength in whole nm; setting it checks the probe's range first."""
        self._check_open()
        nm = ctypes.c_int()
        rc = self._call("getSampleWavelength", ctypes.byref(nm))
        if rc != OK:
            raise _query_error(rc, "getSampleWavelength", "cannot read the wavelength of meter %d" % self.id)
        return nm.value

    @wavelength.setter
    def wavelength(self, nm):
        self._check_open()
        if isinstance(nm, bool) or not isinstance(nm, numbers.Real) or not float(nm).is_integer():
            raise ArgumentError("the wavelength is a whole number of nm, got %r" % (nm,), ERR_ARGUMENT,
                                "setSampleWavelength")
        nm = int(nm)
        start, end = self.wavelength_range
        if not start <= nm <= end:
            raise WavelengthRangeError("wavelength %d nm is outside the probe's range (%d to %d nm)"
                                       % (nm, start, end), ERR_ARGUMENT, "setSampleWavelength")
        rc = self._call("setSampleWavelength", nm, retry_on=(ERR_NO_REPLY,))
        if rc != OK:
            raise _error(rc, "setSampleWavelength", "cannot set the wavelength")

    @property
    def average(self):
        """The meter's averaging (1 to 65535)."""
        self._check_open()
        count = ctypes.c_ushort()
        rc = self._call("getAverage", ctypes.byref(count))
        if rc != OK:
            raise _query_error(rc, "getAverage", "cannot read the averaging of meter %d" % self.id)
        return count.value

    @average.setter
    def average(self, count):
        self._check_open()
        count = int(count)
        if not 1 <= count <= 65535:
            raise ArgumentError("averaging %d is outside 1 to 65535" % count, ERR_ARGUMENT, "setAverage")
        rc = self._call("setAverage", count, retry_on=(ERR_NO_REPLY,))
        if rc != OK:
            raise _error(rc, "setAverage", "cannot set the averaging")

    @property
    def zero_offset(self):
        """The zero offset stored in the meter, in nW."""
        self._check_open()
        value = ctypes.c_double()
        rc = self._call("getZeroOffset", ctypes.byref(value))
        if rc != OK:
            raise _query_error(rc, "getZeroOffset", "cannot read the zero offset of meter %d" % self.id)
        return value.value

    def zero(self, timeout=2.0):
        """Zero compensation (cover the probe first): the current reading becomes the zero
        offset. Takes fresh readings first, so the offset is never a stale value."""
        self._check_open()
        started = not self._streaming
        if started:
            self.start()
        try:
            fresh = 0
            deadline = time.monotonic() + timeout
            while fresh < 3:
                got = self.take()
                fresh += len(got)
                if not got:
                    if time.monotonic() >= deadline:
                        raise NoReplyError("meter %d delivers no readings" % self.id, ERR_NO_REPLY,
                                           "getData")
                    time.sleep(0.01)
            rc = self._lib.resetZeroOffset(self.id)
            if rc != OK:
                raise _error(rc, "resetZeroOffset", "zero compensation failed")
        finally:
            if started:
                self.stop()
        return self.zero_offset

    @property
    def probe_state(self):
        """The probe state the meter reports (2: attached)."""
        self._check_open()
        state = ctypes.c_int()
        rc = self._call("getDetectorState", ctypes.byref(state))
        if rc != OK:
            raise _query_error(rc, "getDetectorState", "cannot read the probe state of meter %d" % self.id)
        return state.value

    @property
    def probe_attached(self):
        return self.probe_state == PROBE_ATTACHED

    @property
    def power(self):
        """The power the probe sees now, in watts (the next reading; starts and stops the
        measurement if it was not running)."""
        return self.read(1, timeout=2.0)[0].power_w

    # ---- readings ----------------------------------------------------------------------

    def start(self):
        """Starts the measurement; readings then queue up in the library (at most 401)."""
        self._check_open()
        buf = (_PowerData * _QUEUE_RECORDS)()
        while self._lib.getData(self.id, buf, _QUEUE_RECORDS) > 0:
            pass  # records left from earlier use are not part of this run
        # A start whose acknowledgement is late under load is sent again (the meter
        # ignores a start while it streams).
        rc = self._call("startTransfer", retry_on=(ERR_NO_REPLY,))
        if rc != OK:
            raise _error(rc, "startTransfer", "cannot start the measurement on meter %d" % self.id)
        self._streaming = True

    def stop(self):
        self._lib.stopTransfer(self.id)
        self._streaming = False

    def take(self):
        """Returns the readings queued since the last call (possibly none), oldest first."""
        self._check_open()
        buf = (_PowerData * _QUEUE_RECORDS)()
        out = []
        while True:
            n = self._lib.getData(self.id, buf, _QUEUE_RECORDS)
            if n < 0:
                raise _error(n, "getData", "cannot take readings")
            out.extend(Reading(buf[k].time, buf[k].power, self.utc_offset_s) for k in range(n))
            if n < _QUEUE_RECORDS:
                return out

    def read(self, count=1, timeout=None):
        """Returns the next ``count`` readings (starting and stopping the measurement if it
        was not running). With ``timeout`` (seconds), NoReplyError is raised when they have
        not all arrived by then."""
        got = list(self.stream(count=count, duration=timeout))
        if len(got) < count:
            raise NoReplyError("meter %d delivered %d of %d readings in %g s"
                               % (self.id, len(got), count, timeout), ERR_NO_REPLY, "getData")
        return got

    def stream(self, duration=None, count=None, silence=None):
        """Yields every reading for ``duration`` seconds or ``count`` readings (or until the
        caller stops iterating). A background thread keeps polling the library while the
        caller handles a reading, so nothing is lost to the library's 401-record limit.

        When no reading arrives for ``silence`` seconds (default 1) the meter is asked for
        its probe state; no reply raises NoReplyError (e.g. the meter was unplugged)."""
        silence = 1.0 if silence is None else silence
        started = not self._streaming
        if started:
            self.start()
        handoff = queue.Queue()
        done = threading.Event()
        failure = []

        def poll():
            buf = (_PowerData * _QUEUE_RECORDS)()
            last = time.monotonic()
            try:
                while not done.is_set():
                    n = self._lib.getData(self.id, buf, _QUEUE_RECORDS)
                    if n < 0:
                        raise _error(n, "getData", "cannot take readings")
                    now = time.monotonic()
                    if n > 0:
                        handoff.put([Reading(buf[k].time, buf[k].power, self.utc_offset_s) for k in range(n)])
                        last = now
                        if n == _QUEUE_RECORDS:
                            continue
                    elif now - last >= silence:
                        state = ctypes.c_int()
                        rc = self._lib.getDetectorState(self.id, ctypes.byref(state))
                        if rc != OK or self._lib.isDevOpen(self.id) != 1:
                            raise NoReplyError("meter %d stopped answering" % self.id,
                                               rc if rc != OK else ERR_NO_REPLY, "getDetectorState")
                        last = time.monotonic()
                    time.sleep(0.005)
            except TessivarError as exc:
                failure.append(exc)
            finally:
                handoff.put(None)

        poller = threading.Thread(target=poll, name="tessivar-poll-%d" % self.id, daemon=True)
        poller.start()
        end = None if duration is None else time.monotonic() + duration
        given = 0
        try:
            while count is None or given < count:
                wait = 0.05 if end is None else max(0.0, min(0.05, end - time.monotonic()))
                if end is not None and time.monotonic() >= end:
                    break
                try:
                    chunk = handoff.get(timeout=wait)
                except queue.Empty:
                    continue
                if chunk is None:
                    if failure:
                        raise failure[0]
                    break
                for reading in chunk:
                    if count is not None and given >= count:
                        break
                    given += 1
                    yield reading
        finally:
            done.set()
            poller.join()
            if started:
                self.stop()
