/*
 * stream_to_file: writes every sample of one meter to a CSV file.
 *
 *   stream_to_file FILE [SECONDS [ID]]     (default 10 s, the first meter found)
 *
 * The library keeps at most 401 records per meter and drops the oldest beyond that, so
 * getData must be called often: here every 10 ms, which is enough for tens of thousands
 * of samples per second. Writing to the file happens between polls; a program whose
 * output may block (a pipe, a network share) should write from a second thread.
 */
#define _POSIX_C_SOURCE 200809L /* nanosleep, clock_gettime under -std=c99 */
#include <stdio.h>
#include <stdlib.h>

#include <tessivar/tessivar.h>

#ifdef _WIN32
#include <windows.h>
static void sleep_ms(int ms) { Sleep((DWORD)ms); }
static long long now_ms(void) { return (long long)GetTickCount64(); }
#else
#include <time.h>
static void sleep_ms(int ms)
{
    struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}
static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}
#endif

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE [SECONDS [ID]]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? atof(argv[2]) : 10.0;

    int ids[TESSIVAR_MAX_DEVICES];
    int n = scanDev(ids, TESSIVAR_MAX_DEVICES);
    if (n <= 0) {
        fprintf(stderr, "No meter found.\n");
        releaseDev();
        return 1;
    }
    const int id = argc > 3 ? atoi(argv[3]) : ids[0];

    if (openDev(id) != TESSIVAR_OK) {
        fprintf(stderr, "cannot open meter %d\n", id);
        releaseDev();
        return 1;
    }
    int ready = 0;
    for (int waited = 0; waited < 3000 && !ready && isDevOpen(id) == 1; waited += 10) {
        int nm = 0;
        double zero = 0.0;
        /* Readings use the meter's wavelength and zero offset once the library has read them. */
        ready = isInited(id) == 1 && getSampleWavelength(id, &nm) == TESSIVAR_OK &&
                getZeroOffset(id, &zero) == TESSIVAR_OK;
        if (!ready)
            sleep_ms(10);
    }
    FILE *out = ready ? fopen(argv[1], "w") : NULL;
    if (!out || startTransfer(id) != TESSIVAR_OK) {
        fprintf(stderr, ready ? "cannot write %s or start the meter\n" : "meter not answering\n",
                argv[1]);
        if (out)
            fclose(out);
        closeDev(id);
        releaseDev();
        return 1;
    }

    fprintf(out, "time_ms,power_nw\n");
    long long total = 0;
    const long long end = now_ms() + (long long)(seconds * 1000.0);
    PowerData rec[401];
    while (now_ms() < end) {
        int got = getData(id, rec, 401);
        for (int i = 0; i < got; ++i)
            fprintf(out, "%lld,%.6f\n", (long long)rec[i].time, rec[i].power);
        if (got > 0)
            total += got;
        if (got < 401)
            sleep_ms(10);
    }
    stopTransfer(id);
    closeDev(id);
    /* Records that arrived before the stop are still in the queue after closeDev. */
    int got;
    while ((got = getData(id, rec, 401)) > 0) {
        for (int i = 0; i < got; ++i)
            fprintf(out, "%lld,%.6f\n", (long long)rec[i].time, rec[i].power);
        total += got;
    }
    int failed = fclose(out) != 0;
    releaseDev();
    printf("%lld samples written to %s\n", total, argv[1]);
    return failed ? 1 : 0;
}
