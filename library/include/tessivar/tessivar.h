/*
 * Tessivar: device library for USB optical power meters (vendor 0x4306, product 0x5741).
 *
 * This header is the whole public interface: 38 functions with C linkage, keyed by a
 * device id, returning plain int codes. It is usable from C and C++.
 *
 * General contract
 * - Every buffer that crosses this interface belongs to the caller. The library never
 *   keeps a caller's pointer after a call returns and never calls back.
 * - Text fields are byte strings: zero-padded when written, zero-terminated when read.
 * - Every wire field is little-endian; the records below are packed in the order given.
 * - All functions may be called from any thread, for the same or different devices,
 *   at the same time. Calls on one device hold a process-wide registry read lock for
 *   their whole duration (including the wait for the meter's reply); scanDev and
 *   releaseDev take it for writing, so they wait for running calls and new calls wait
 *   for them. A writer that waits blocks new readers.
 * - Nothing is logged before openLog or after releaseDev; logging is optional.
 *
 * Typical order: openLog; scanDev; openDev; poll isInited until 1 (or isDevOpen drops
 * to 0: the meter did not deliver its calibration within 2 s); commands and queries;
 * startTransfer, getData in a loop, stopTransfer; closeDev; releaseDev at exit.
 *
 * Waiting: a "command" queues a request and succeeds when a reply with the same code
 * arrives within its budget (30 ms unless stated); a "query" does the same and copies
 * the reply payload. The budget counts from the call on a monotonic clock: a reply is
 * taken as soon as it arrives, and a call that gets none returns after its budget (a
 * busy machine may add a few ms of scheduling, never budget-proportional drift).
 */
#ifndef TESSIVAR_TESSIVAR_H
#define TESSIVAR_TESSIVAR_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(TESSIVAR_BUILDING)
#    define TESSIVAR_API __declspec(dllexport)
#  elif defined(TESSIVAR_STATIC)
#    define TESSIVAR_API
#  else
#    define TESSIVAR_API __declspec(dllimport)
#  endif
#else
#  if defined(TESSIVAR_BUILDING)
#    define TESSIVAR_API __attribute__((visibility("default")))
#  else
#    define TESSIVAR_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes shared by every function that returns a status. Positive values are
 * counts (bytes or records copied, meters found) or the flag value 1. */
enum {
    TESSIVAR_OK = 0,
    TESSIVAR_ERR_NO_DEVICE = -1,   /* no device with this id in the registry */
    TESSIVAR_ERR_NO_REPLY = -2,    /* the meter gave no reply within the wait budget */
    TESSIVAR_ERR_NOT_INITED = -3,  /* not open, or calibration set not yet complete */
    TESSIVAR_ERR_ARGUMENT = -4     /* bad argument, buffer too small, no or empty reply,
                                      wavelength outside the probe's range, USB open failed */
};

/* Maximum number of meters the registry holds at once. */
#define TESSIVAR_MAX_DEVICES 8

/* One computed power sample (16 bytes). time: local wall-clock milliseconds since the
 * Unix epoch (UTC plus the local offset), taken once per open and then advanced by the
 * meter's own millisecond tick. power: (raw - b) / (coefficient * k) - zero offset -
 * probe offset, in the unit the probe's range constants produce (nanowatts for the
 * probes this meter ships with). */
typedef struct PowerData {
    int64_t time;
    double power;
} PowerData;

/* Sizes of the calibration records (see getBaseParam, getLevParam, getSpecParam). */
#define TESSIVAR_BASE_PARAM_SIZE 8      /* uint16 start nm, end nm, ADC low, ADC high */
#define TESSIVAR_LEV_PARAM_SIZE 128     /* 8 x (double k, double b), range 1 first */
#define TESSIVAR_SPEC_ENTRY_SIZE 6      /* per entry: uint16 nm (first run), float (second run) */
#define TESSIVAR_CALIBRATION_DATE_SIZE 10
#define TESSIVAR_CLOCK_RECORD_SIZE 14   /* 7 x uint16: year-2000, month, day, weekday 1=Mon..7, h, m, s */

/* ---- Library life cycle ------------------------------------------------------- */

/* Opens the rotating log "<dir>/vorixOptical.log" (10 MiB x 10 files, a fresh file at
 * every call; the previous one moves into the rotation). dir may be null or empty for
 * the current directory; it is created if missing. A second call while the log is open
 * replaces the log (the new directory takes effect). Returns 0. */
TESSIVAR_API int openLog(const char *dir);

/* Enumerates attached meters into ids[0 .. min(count, 8) - 1] (ids[0 .. count-1] are
 * zeroed first) and updates the registry: devices no longer attached are closed and
 * removed, new ones are registered (not opened). Devices that stay attached keep their
 * id, open state and queues. Returns the number found, 8 as soon as the registry holds
 * 8 devices, or -4 for a null ids or count <= 0 (the registry is then left unchanged).
 * Waits for every running per-device call to return. Ids are derived from the USB port
 * path, so the same meter on the same port keeps its id. */
TESSIVAR_API int scanDev(int *ids, int count);

/* Closes and destroys every device, shuts the USB context and the log down. Returns 0.
 * The library may be used again afterwards (scanDev restarts USB). */
TESSIVAR_API int releaseDev(void);

/* ---- Open, close, state --------------------------------------------------------- */

/* Opens the meter and starts its device thread, which writes the start sequence and
 * reads the probe's calibration. 0 when the thread runs (also if it already did; the
 * loop is then not restarted), -4 if the USB open failed (also when another program
 * holds the meter: its interface claim is refused as busy), -1 unknown id. Returns at
 * once; poll isInited for readiness. */
TESSIVAR_API int openDev(int id);

/* Stops the device thread (a final stop-transfer request is written) and closes the
 * USB handle. Waits for the thread to end (normally within about 30 ms). Records in
 * the power queue stay readable with getData. 0 (also when not open), -1 unknown id. */
TESSIVAR_API int closeDev(int id);

/* 1 while open (from openDev until closeDev, removal, or the end of the loop on the
 * 2 s calibration limit), 0 otherwise, -1 unknown id. */
TESSIVAR_API int isDevOpen(int id);

/* 1 once the calibration set has been read since the last open, 0 otherwise (also
 * once the meter has left the bus: it stays open until closeDev), -1 unknown id. */
TESSIVAR_API int isInited(int id);

/* ---- Streaming --------------------------------------------------------------------- */

/* Command 0x0024: the meter starts streaming samples. 0, -1, -2 or -3. */
TESSIVAR_API int startTransfer(int id);

/* Queues 0x0025 without waiting. 0, -3 not initialised, -1 unknown id. */
TESSIVAR_API int stopTransfer(int id);

/* Moves up to count oldest records of the power queue into out (caller's array of at
 * least count records). The queue holds at most 401 records; older ones are dropped
 * when nobody reads. Returns the number moved (0 when empty or count <= 0), -4 for a
 * null out with count > 0, -1 unknown id. Never blocks on the meter. */
TESSIVAR_API int getData(int id, PowerData *out, int count);

/* Moves one record: *power = its value, *time = low 32 bits of its time stamp.
 * 0, -4 queue empty or a null pointer, -1 unknown id. */
TESSIVAR_API int getSingleData(int id, double *power, int *time);

/* ---- Identity texts ---------------------------------------------------------------- */

/* Each zero-fills buf[0 .. len-1], then queries at most len - 1 bytes of the text, so
 * the result is always terminated. 0 if at least one byte came, -4 otherwise (no reply,
 * not initialised, len < 2, null buf), -1 unknown id.
 * readDevName: meter head name (0x000D); readDevSerial: head serial (0x000B);
 * readDetName: probe name (0x1003); readDetSerial: probe serial (0x1001);
 * readVersion: firmware version (0x0010). */
TESSIVAR_API int readDevName(int id, char *buf, int len);
TESSIVAR_API int readDevSerial(int id, char *buf, int len);
TESSIVAR_API int readDetName(int id, char *buf, int len);
TESSIVAR_API int readDetSerial(int id, char *buf, int len);
TESSIVAR_API int readVersion(int id, char *buf, int len);

/* Each copies min(len, field) bytes of text into a zeroed field and sends it as a
 * command. Field: 32 bytes, except writeDetSerial 16. 0, -1, -2, -3; -4 for a null text
 * with len > 0 or a negative len. */
TESSIVAR_API int writeDevName(int id, const char *text, int len);
TESSIVAR_API int writeDevSerial(int id, const char *text, int len);
TESSIVAR_API int writeDetName(int id, const char *text, int len);
TESSIVAR_API int writeDetSerial(int id, const char *text, int len);

/* Command 0x000E with the caller's bytes (the 14-byte clock record). 0, -1, -2, -3;
 * -4 for a negative len or null data with len > 0. */
TESSIVAR_API int updateDevTime(int id, const void *data, int len);

/* ---- Measurement settings ------------------------------------------------------ */

/* Command 0x1010 with count as uint16 (the meter's averaging). 0, -1, -2, -3. */
TESSIVAR_API int setAverage(int id, int count);

/* Query 0x1016: *count = the meter's averaging. 0 if a reply came, -4 otherwise or for
 * a null count, -1 unknown id. */
TESSIVAR_API int getAverage(int id, unsigned short *count);

/* Command 0x1017 with nm as uint16; when that succeeds, the library's spectral
 * coefficient follows nm if nm lies in the probe's range (outside it the meter still
 * gets nm, the coefficient stays). Returns the command's result: 0, -1, -2, -3. */
TESSIVAR_API int setSampleWavelength(int id, int nm);

/* Query 0x1018: *nm = the meter's wavelength (0 without reply); the coefficient then
 * follows it as in setSampleWavelength. 0 if a reply came, -4 otherwise or for a null
 * nm (the query is still made), -1 unknown id. */
TESSIVAR_API int getSampleWavelength(int id, int *nm);

/* The probe state that getDetectorState reports while a probe is attached to the meter
 * head; any other value means no usable probe. */
#define TESSIVAR_DETECTOR_ATTACHED 2

/* Query 0x101B: *state = the probe state (TESSIVAR_DETECTOR_ATTACHED = probe attached;
 * 0 without reply). 0 on reply, -2 no reply (a recovery request 0x0003 is then queued),
 * -3 not initialised, -4 null state, -1 unknown id. */
TESSIVAR_API int getDetectorState(int id, int *state);

/* Query 0x0029 (budget 100 ms): *offset = the zero offset stored in the meter, which
 * becomes the library's working zero offset. 0, or -4 (null, no reply, not
 * initialised, unknown id). */
TESSIVAR_API int getZeroOffset(int id, double *offset);

/* Zero compensation: the latest sample's value without zero offset becomes the zero
 * offset, and is stored in the meter with command 0x0028. Returns the command's result:
 * 0, -1, -2, -3. */
TESSIVAR_API int resetZeroOffset(int id);

/* ---- Calibration ----------------------------------------------------------------- */

/* Copies the 8-byte base record into out. 8, -4 not initialised, size < 8 or null out,
 * -1 unknown id. */
TESSIVAR_API int getBaseParam(int id, void *out, int size);

/* Copies the 128-byte level record into out. 128, -4 not initialised, size < 128 or
 * null out, -1 unknown id. */
TESSIVAR_API int getLevParam(int id, void *out, int size);

/* Copies the spectral table of n entries: n uint16 wavelengths, then n floats.
 * Returns 6 * n (0 for an empty table), -3 not initialised, -4 size < 6 * n or null
 * out, -1 unknown id. */
TESSIVAR_API int getSpecParam(int id, void *out, int size);

/* The probe's wavelength range in nm. 0, -3 not initialised, -4 null pointer,
 * -1 unknown id. */
TESSIVAR_API int getWaveRange(int id, int *start, int *end);

/* Copies the 10 calibration-date bytes of the latest reply (no terminator; all zero
 * before the first one). Works without initialisation. 0, -4 null, -1 unknown id. */
TESSIVAR_API int getCalibrationDate(int id, char *out);

/* Commands 0x1008, 0x100A, 0x100C with the caller's bytes. 0, -1, -2, -3; -4 for a
 * negative len or null data with len > 0. */
TESSIVAR_API int setBaseParam(int id, const void *data, int len);
TESSIVAR_API int setLevParam(int id, const void *data, int len);
TESSIVAR_API int setSpecParam(int id, const void *data, int len);

/* Command 0x100E: the meter stores its probe parameters in flash. Waits up to 5 s.
 * 0, -1, -2, -3. */
TESSIVAR_API int saveDetParam(int id);

/* mode TESSIVAR_DISK_MODE_DRIVE: the meter presents its stored files as a USB drive
 * (0x0011); any other mode: back to normal (0x0012). 0, -1, -2, -3. */
#define TESSIVAR_DISK_MODE_DRIVE 2
TESSIVAR_API int setDevInDiskMode(int id, int mode);

#ifdef __cplusplus
}
#endif

#endif /* TESSIVAR_TESSIVAR_H */
