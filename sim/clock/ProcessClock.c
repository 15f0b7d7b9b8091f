/* The clock of a program run by `vjxsim run`, part of the simulated access
 * library only.
 *
 * With VJXSIM_CLOCK=virtual the program runs on virtual time: its sleeps
 * (nanosleep, clock_nanosleep, usleep, sleep) return at once and move the
 * clock by what they asked for, and its clock readings (clock_gettime,
 * gettimeofday, time) see that clock; the simulated parts take their time
 * from the same readings, and each bus access moves it by its bus time. The
 * library stands in for the C library's functions of those names, which the
 * dynamic linker finds in it first (the program links the access library
 * before the C library). Without the variable every call goes to the C
 * library unchanged.
 *
 * Virtual time that a program skipped is kept in the rack
 * (runtime/clock-offset, nanoseconds) when the program ends, and every later
 * program on the rack, virtual or not, reads its clocks that much ahead: the
 * rack's time never runs back, so a part busy until some moment of one
 * program is busy until the same moment for the next. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

typedef int (*clock_gettime_fn)(clockid_t, struct timespec*);

static int g_virtual;
static int64_t g_offsetNs;  /* rack time minus real time at start */
static int64_t g_skippedNs; /* virtual time this program skipped */
static char g_offsetPath[4096];
static int64_t g_wallStepNs; /* the time of day set off from the rack's time */

static int realClockGettime(clockid_t id, struct timespec* ts) {
    static clock_gettime_fn next;
    if (!next) next = (clock_gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
    if (next) return next(id, ts);
    return (int)syscall(SYS_clock_gettime, id, ts);
}

static int64_t toNs(const struct timespec* ts) {
    return (int64_t)ts->tv_sec * 1000000000 + ts->tv_nsec;
}

static void fromNs(int64_t ns, struct timespec* ts) {
    if (ns < 0) ns = 0;
    ts->tv_sec = (time_t)(ns / 1000000000);
    ts->tv_nsec = (long)(ns % 1000000000);
}

static int isOursToShift(clockid_t id) {
    return id == CLOCK_MONOTONIC || id == CLOCK_REALTIME || id == CLOCK_MONOTONIC_RAW ||
           id == CLOCK_MONOTONIC_COARSE || id == CLOCK_REALTIME_COARSE || id == CLOCK_BOOTTIME;
}

__attribute__((constructor)) static void processClockStart(void) {
    const char* mode = getenv("VJXSIM_CLOCK");
    g_virtual = mode && strcmp(mode, "virtual") == 0;
    const char* rack = getenv("VJXSIM_RACK");
    if (!rack || !*rack) return;
    snprintf(g_offsetPath, sizeof g_offsetPath, "%s/runtime/clock-offset", rack);
    FILE* f = fopen(g_offsetPath, "r");
    if (!f) return;
    long long ns = 0;
    if (fscanf(f, "%lld", &ns) == 1 && ns > 0) g_offsetNs = ns;
    fclose(f);
}

/* Keeps the virtual time this program skipped in the rack: when it ends, and
 * before it is killed at a chosen moment (which no destructor survives). */
__attribute__((visibility("hidden"))) void vjxsim_process_clock_save(void) {
    if (!g_virtual || g_skippedNs <= 0 || !g_offsetPath[0]) return;
    /* Another program may have moved the offset meanwhile: keep the larger. */
    int64_t offset = g_offsetNs + g_skippedNs;
    FILE* in = fopen(g_offsetPath, "r");
    if (in) {
        long long now = 0;
        if (fscanf(in, "%lld", &now) == 1 && now > offset) offset = now;
        fclose(in);
    }
    char tmp[4200];
    snprintf(tmp, sizeof tmp, "%s.%ld", g_offsetPath, (long)getpid());
    FILE* out = fopen(tmp, "w");
    if (!out) return;
    fprintf(out, "%lld\n", (long long)offset);
    if (fclose(out) == 0) rename(tmp, g_offsetPath);
}

__attribute__((destructor)) static void processClockEnd(void) {
    vjxsim_process_clock_save();
}

/* The time of day is set forward or back (as by an administrator or a time
 * service); the monotonic clocks go on unchanged. */
__attribute__((visibility("hidden"))) void vjxsim_process_clock_step_wall_ns(int64_t ns) {
    __atomic_add_fetch(&g_wallStepNs, ns, __ATOMIC_RELAXED);
}

static int isWallClock(clockid_t id) {
    return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE;
}

/* Bus time of an access (called by the simulated library's clock). */
__attribute__((visibility("hidden"))) void vjxsim_process_clock_spend_ns(uint64_t ns) {
    if (g_virtual) __atomic_add_fetch(&g_skippedNs, (int64_t)ns, __ATOMIC_RELAXED);
}

static void skip(int64_t ns) {
    if (ns > 0) __atomic_add_fetch(&g_skippedNs, ns, __ATOMIC_RELAXED);
}

EXPORT int clock_gettime(clockid_t id, struct timespec* ts) {
    int rc = realClockGettime(id, ts);
    if (rc != 0 || !isOursToShift(id)) return rc;
    int64_t ns = toNs(ts) + g_offsetNs + __atomic_load_n(&g_skippedNs, __ATOMIC_RELAXED);
    if (isWallClock(id)) ns += __atomic_load_n(&g_wallStepNs, __ATOMIC_RELAXED);
    fromNs(ns, ts);
    return 0;
}

EXPORT int gettimeofday(struct timeval* tv, void* tz) {
    (void)tz;
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return -1;
    tv->tv_sec = ts.tv_sec; /* the C library declares it never null */
    tv->tv_usec = ts.tv_nsec / 1000;
    return 0;
}

EXPORT time_t time(time_t* out) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (out) *out = ts.tv_sec;
    return ts.tv_sec;
}

EXPORT int clock_nanosleep(clockid_t id, int flags, const struct timespec* req, struct timespec* rem) {
    if (!g_virtual) return (int)syscall(SYS_clock_nanosleep, id, flags, req, rem) == 0 ? 0 : errno;
    if (!req || req->tv_nsec < 0 || req->tv_nsec >= 1000000000) return EINVAL;
    if (flags & TIMER_ABSTIME) {
        struct timespec now;
        clock_gettime(id, &now);
        skip(toNs(req) - toNs(&now));
    } else {
        skip(toNs(req));
    }
    if (rem) rem->tv_sec = 0, rem->tv_nsec = 0;
    return 0;
}

EXPORT int nanosleep(const struct timespec* req, struct timespec* rem) {
    if (!g_virtual) return (int)syscall(SYS_nanosleep, req, rem);
    int rc = clock_nanosleep(CLOCK_MONOTONIC, 0, req, rem);
    if (rc == 0) return 0;
    errno = rc;
    return -1;
}

EXPORT int usleep(useconds_t us) {
    struct timespec ts = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
    return nanosleep(&ts, NULL);
}

EXPORT unsigned int sleep(unsigned int seconds) {
    struct timespec ts = {(time_t)seconds, 0};
    return nanosleep(&ts, NULL) == 0 ? 0 : seconds;
}
