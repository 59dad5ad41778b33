/*
 * scan_read: lists the attached meters and prints five readings from each.
 *
 * Build against the installed SDK (see README.md in the SDK folder):
 *   cmake -S . -B build -DCMAKE_PREFIX_PATH=<prefix> && cmake --build build
 *   cc scan_read.c $(pkg-config --cflags --libs tessivar) -o scan_read
 */
#define _POSIX_C_SOURCE 200809L /* nanosleep, clock_gettime under -std=c99 */
#include <stdio.h>
#include <string.h>

#include <tessivar/tessivar.h>

#ifdef _WIN32
#include <windows.h>
static void sleep_ms(int ms) { Sleep((DWORD)ms); }
#else
#include <time.h>
static void sleep_ms(int ms)
{
    struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}
#endif

/* openDev returns at once; the meter is usable when its calibration has been read.
 * The meter keeps its measuring wavelength and zero offset while the library starts
 * from its own defaults: getSampleWavelength and getZeroOffset make the library apply
 * the meter's values to its readings, so call them before taking any. */
static int open_and_wait(int id)
{
    if (openDev(id) != TESSIVAR_OK)
        return -1;
    for (int waited = 0; waited < 3000; waited += 10) {
        int nm = 0;
        double zero = 0.0;
        if (isInited(id) == 1 && getSampleWavelength(id, &nm) == TESSIVAR_OK &&
            getZeroOffset(id, &zero) == TESSIVAR_OK)
            return 0;
        if (isDevOpen(id) != 1)
            break; /* gave up: no calibration within 2 s */
        sleep_ms(10);
    }
    closeDev(id);
    return -1;
}

static void print_meter(int id)
{
    char head[64], serial[64], probe[64], probeSerial[64], version[64];
    if (open_and_wait(id) != 0) {
        printf("meter %d: not answering\n", id);
        return;
    }
    /* Each reader terminates the text within the buffer; on failure it stays empty. */
    readDevName(id, head, sizeof head);
    readDevSerial(id, serial, sizeof serial);
    readDetName(id, probe, sizeof probe);
    readDetSerial(id, probeSerial, sizeof probeSerial);
    readVersion(id, version, sizeof version);
    printf("meter %d: %s (%s), probe %s (%s), firmware %s\n", id, head, serial, probe, probeSerial,
           version);

    if (startTransfer(id) == TESSIVAR_OK) {
        int got = 0;
        for (int waited = 0; got < 5 && waited < 2000; waited += 10) {
            PowerData rec[5];
            int n = getData(id, rec, 5 - got);
            for (int i = 0; i < n; ++i, ++got)
                /* power is in nanowatts; time in local wall-clock ms since the epoch */
                printf("  %lld ms  %.4f nW\n", (long long)rec[i].time, rec[i].power);
            if (n <= 0)
                sleep_ms(10);
        }
        stopTransfer(id);
    }
    closeDev(id);
}

int main(void)
{
    int ids[TESSIVAR_MAX_DEVICES];
    int n = scanDev(ids, TESSIVAR_MAX_DEVICES);
    if (n <= 0) {
        fprintf(stderr, "No meter found.\n");
        releaseDev();
        return 1;
    }
    for (int i = 0; i < n; ++i)
        print_meter(ids[i]);
    releaseDev();
    return 0;
}
