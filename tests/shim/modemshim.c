/* Modem lines for a pty, for tests (LD_PRELOAD=libqnmodemshim.so).
 *
 * A pty has no CTS, DSR, CD or RI, and its driver refuses the modem-line
 * ioctls. This library takes over ioctl() for one device, named by
 * QN_SHIM_DEV (the pty slave, e.g. /dev/pts/7), and answers the modem-line
 * requests from a timeline file named by QN_SHIM_TIMELINE:
 *
 *     # CLOCK_MONOTONIC microseconds, then the TIOCM_ status word
 *     183625331012 0
 *     183625531012 0x20        (TIOCM_CTS on)
 *     183625536012 0
 *
 * one entry per line in time order; '#' starts a comment. The test may keep
 * appending while the program runs; a file that shrinks is read again from
 * the start. Before the first entry every line is off.
 *
 * An entry may instead be relative, for writers that cannot read
 * CLOCK_MONOTONIC (a Windows program under Wine):
 *
 *     +100000 0x20     (TIOCM_CTS on 100 ms after the shim first read this line)
 *     +180000 0
 *
 * The offset counts from the moment the shim takes the line in; lines taken
 * in together (one append, read by one request) share that moment, so their
 * spacing is exact. Entries are kept in time order whatever order they
 * resolve in.
 *
 * An entry may say "gone" instead of a word: the device is pulled out, as
 * a USB adapter is, from that moment on (a later entry with a word plugs it
 * back in with those lines):
 *
 *     183626031012 gone
 *     +2000000 gone
 *
 * While the device is gone every call on its descriptors fails with EIO, as
 * the tty layer answers for a device that has been unplugged: ioctl() of
 * any request (a TIOCMIWAIT under way ends with EIO when the moment comes),
 * read() and write(); poll() and ppoll() report POLLERR | POLLHUP for it at
 * once. Opening is left alone: the test removes the device's name for that.
 *
 * Descriptors are matched by device number (fstat st_rdev), not by path:
 * under Wine the wineserver opens the file and hands the descriptor over.
 *
 *   TIOCMGET     the word in force now, with DTR/RTS as last set below; with
 *                QN_SHIM_LATCH=1 no change is passed over: a change that one
 *                TIOCMGET has not returned yet is returned before any later
 *                one comes into force
 *   TIOCMSET, TIOCMBIS, TIOCMBIC   set DTR/RTS (other bits are ignored)
 *   TIOCMIWAIT   returns 0 once an entry takes effect that changes a line of
 *                its mask; -1/EINTR when a signal handler runs meanwhile
 *   TIOCGICOUNT  how often CTS, DSR, RI and CD have changed so far (other
 *                counts 0); passed on to the driver when QN_SHIM_NO_ICOUNT=1,
 *                to try code that has to do without counts
 *
 * Every other request, and every other descriptor, goes to the real ioctl
 * (read, write, poll and ppoll likewise, unless the device is gone).
 *
 * QN_SHIM_LATCH=1 is for readers that poll the status word instead of
 * waiting with TIOCMIWAIT, as Wine does (every millisecond or so, comparing
 * words): a UART interrupts on every edge, so a pulse shorter than the
 * polling gap still reaches a Windows driver, while a poller would miss it.
 * The latch holds each change until a TIOCMGET has seen it; TIOCMIWAIT and
 * TIOCGICOUNT keep to the timeline.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef ssize_t (*read_fn)(int, void*, size_t);
typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef int (*poll_fn)(struct pollfd*, nfds_t, int);
typedef int (*ppoll_fn)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);

struct entry {
    long long t_us;
    int word;
};

static pthread_once_t g_once = PTHREAD_ONCE_INIT;
static ioctl_fn g_real_ioctl;
static read_fn g_real_read;
static write_fn g_real_write;
static poll_fn g_real_poll;
static ppoll_fn g_real_ppoll;
static int g_active;
static dev_t g_rdev;
static char* g_timeline;
static int g_no_icount;
static int g_latch;

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static struct entry* g_entries; /* guarded by g_lock, as is what follows */
static size_t g_count, g_capacity;
static off_t g_parsed;  /* bytes of the file taken so far (whole lines only) */
static int g_outputs;   /* TIOCM_DTR | TIOCM_RTS as set */
static long g_shown = -1; /* with the latch: the entry TIOCMGET returned last */
static long long g_reloaded_us = -1; /* when read/poll last took the file in */

/* The word of a "gone" entry: no TIOCM_ word has all bits set. */
static const int kGone = -1;

/* Signals stay blocked while the lock is held: a thread parked by a signal
 * handler (a suspension, in the program or in Wine) must not keep it, and a
 * handler that calls ioctl must not find it taken by its own thread. */
static void lock(sigset_t* saved) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, saved);
    pthread_mutex_lock(&g_lock);
}

static void unlock(const sigset_t* saved) {
    pthread_mutex_unlock(&g_lock);
    pthread_sigmask(SIG_SETMASK, saved, NULL);
}

static const int kOutputLines = TIOCM_DTR | TIOCM_RTS;
static const int kInputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RI;
static const long long kPollStepUs = 200;

static void init(void) {
    g_real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    g_real_read = (read_fn)dlsym(RTLD_NEXT, "read");
    g_real_write = (write_fn)dlsym(RTLD_NEXT, "write");
    g_real_poll = (poll_fn)dlsym(RTLD_NEXT, "poll");
    g_real_ppoll = (ppoll_fn)dlsym(RTLD_NEXT, "ppoll");
    const char* dev = getenv("QN_SHIM_DEV");
    struct stat st;
    if (dev != NULL && stat(dev, &st) == 0 && S_ISCHR(st.st_mode)) {
        g_rdev = st.st_rdev;
        g_active = 1;
    }
    const char* timeline = getenv("QN_SHIM_TIMELINE");
    if (timeline != NULL) g_timeline = strdup(timeline);
    const char* no_icount = getenv("QN_SHIM_NO_ICOUNT");
    g_no_icount = no_icount != NULL && strcmp(no_icount, "1") == 0;
    const char* latch = getenv("QN_SHIM_LATCH");
    g_latch = latch != NULL && strcmp(latch, "1") == 0;
}

static long long now_us(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

static int is_shim_fd(int fd) {
    struct stat st;
    return g_active && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == g_rdev;
}

/* After any entry of the same time: the later line wins. */
static void add_entry(long long t_us, int word) {
    if (g_count == g_capacity) {
        size_t capacity = g_capacity ? g_capacity * 2 : 64;
        struct entry* grown = realloc(g_entries, capacity * sizeof *grown);
        if (grown == NULL) return;
        g_entries = grown;
        g_capacity = capacity;
    }
    size_t at = g_count;
    while (at > 0 && g_entries[at - 1].t_us > t_us) --at;
    memmove(&g_entries[at + 1], &g_entries[at], (g_count - at) * sizeof *g_entries);
    if (g_shown >= (long)at) ++g_shown;
    g_entries[at].t_us = t_us;
    g_entries[at].word = word;
    ++g_count;
}

/* base_us: the moment a relative ("+us") entry counts from. */
static void parse_line(char* line, long long base_us) {
    char* hash = strchr(line, '#');
    if (hash != NULL) *hash = '\0';
    char* start = line;
    while (*start == ' ' || *start == '\t') ++start;
    int relative = *start == '+';
    if (relative) ++start;
    char* end;
    long long t = strtoll(start, &end, 10);
    if (end == start) return; /* blank or comment */
    char* word_start = end;
    while (*word_start == ' ' || *word_start == '\t') ++word_start;
    long word;
    if (strncmp(word_start, "gone", 4) == 0) {
        word = kGone;
    } else {
        word = strtol(word_start, &end, 0);
        if (end == word_start) return;
    }
    add_entry(relative ? base_us + t : t, (int)word);
}

/* Takes in whatever whole lines were appended since the last call. */
static void reload_locked(void) {
    if (g_timeline == NULL) return;
    int fd = open(g_timeline, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return;
    }
    if (st.st_size < g_parsed) { /* rewritten: start again */
        g_count = 0;
        g_parsed = 0;
        g_shown = -1;
    }
    long long base_us = now_us();
    while (st.st_size > g_parsed) {
        char buf[8192];
        ssize_t n = pread(fd, buf, sizeof buf - 1, g_parsed);
        if (n <= 0) break;
        buf[n] = '\0';
        char* last_nl = memrchr(buf, '\n', (size_t)n);
        if (last_nl == NULL) break; /* a line still being written */
        *last_nl = '\0';
        g_parsed += (last_nl - buf) + 1;
        char* save = NULL;
        for (char* line = strtok_r(buf, "\n", &save); line; line = strtok_r(NULL, "\n", &save))
            parse_line(line, base_us);
    }
    close(fd);
}

/* Index of the last entry at or before t, or -1. */
static long last_at_or_before_locked(long long t) {
    long lo = 0, hi = (long)g_count; /* first entry after t */
    while (lo < hi) {
        long mid = (lo + hi) / 2;
        if (g_entries[mid].t_us <= t) lo = mid + 1;
        else hi = mid;
    }
    return lo - 1;
}

/* The lines of an entry; a gone device has none. */
static int lines_of(long i) { return i < 0 || g_entries[i].word == kGone ? 0 : g_entries[i].word; }

static int word_at_locked(long long t) { return lines_of(last_at_or_before_locked(t)); }

static int gone_at_locked(long long t) {
    long i = last_at_or_before_locked(t);
    return i >= 0 && g_entries[i].word == kGone;
}

/* Takes the file in and says whether the device is gone now. */
static int device_gone(void) {
    sigset_t saved;
    lock(&saved);
    reload_locked();
    int gone = gone_at_locked(now_us());
    unlock(&saved);
    return gone;
}

/* The word a TIOCMGET returns now: with the latch, the first change after
 * the entry returned last, if one is due, else the word in force. */
static int word_for_reader_locked(long long t) {
    long i = last_at_or_before_locked(t);
    if (!g_latch || i < 0) return lines_of(i);
    int shown = lines_of(g_shown);
    long k = g_shown + 1;
    while (k < i && !((lines_of(k) ^ shown) & kInputLines)) ++k;
    if (k > i) k = i; /* nothing came due since */
    g_shown = k;
    return lines_of(k);
}

static int shim_tiocmget(int* out) {
    sigset_t saved;
    lock(&saved);
    reload_locked();
    *out = (word_for_reader_locked(now_us()) & ~kOutputLines) | g_outputs;
    unlock(&saved);
    return 0;
}

static int shim_set_outputs(unsigned long request, const int* bits) {
    sigset_t saved;
    lock(&saved);
    if (request == TIOCMSET) g_outputs = *bits & kOutputLines;
    else if (request == TIOCMBIS) g_outputs |= *bits & kOutputLines;
    else g_outputs &= ~*bits;
    unlock(&saved);
    return 0;
}

static int shim_icount(struct serial_icounter_struct* c) {
    sigset_t saved;
    memset(c, 0, sizeof *c);
    lock(&saved);
    reload_locked();
    long last = last_at_or_before_locked(now_us());
    int prev = 0;
    for (long i = 0; i <= last; ++i) {
        int changed = (lines_of(i) ^ prev) & kInputLines;
        c->cts += (changed & TIOCM_CTS) != 0;
        c->dsr += (changed & TIOCM_DSR) != 0;
        c->rng += (changed & TIOCM_RI) != 0;
        c->dcd += (changed & TIOCM_CD) != 0;
        prev = lines_of(i);
    }
    unlock(&saved);
    return 0;
}

/* Sleeps to the next entry's time (or one poll step when none is known yet,
 * as the test may still append) and looks at every entry that came due. The
 * device going meanwhile ends the wait with EIO, as a driver wakes its
 * waiters when the adapter is unplugged. */
static int shim_tiocmiwait(int mask) {
    sigset_t saved;
    long long seen = now_us();
    lock(&saved);
    reload_locked();
    int current = word_at_locked(seen);
    unlock(&saved);
    for (;;) {
        long long now = now_us();
        long long wake;
        lock(&saved);
        reload_locked();
        long i = last_at_or_before_locked(seen) + 1;
        for (; i < (long)g_count && g_entries[i].t_us <= now; ++i) {
            if (g_entries[i].word == kGone) {
                unlock(&saved);
                errno = EIO;
                return -1;
            }
            if ((g_entries[i].word ^ current) & mask) {
                unlock(&saved);
                return 0;
            }
            current = g_entries[i].word;
        }
        wake = i < (long)g_count ? g_entries[i].t_us : now + kPollStepUs;
        unlock(&saved);
        seen = now;
        struct timespec ts = {(time_t)(wake / 1000000), (long)(wake % 1000000) * 1000};
        int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL);
        if (rc == EINTR) {
            errno = EINTR;
            return -1;
        }
    }
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    pthread_once(&g_once, init);
    if (is_shim_fd(fd)) {
        if (device_gone()) {
            errno = EIO;
            return -1;
        }
        switch (request) {
            case TIOCMGET: return shim_tiocmget((int*)arg);
            case TIOCMSET:
            case TIOCMBIS:
            case TIOCMBIC: return shim_set_outputs(request, (const int*)arg);
            case TIOCMIWAIT: return shim_tiocmiwait((int)(uintptr_t)arg & kInputLines);
            case TIOCGICOUNT:
                if (!g_no_icount) return shim_icount((struct serial_icounter_struct*)arg);
                break;
            default: break;
        }
    }
    return g_real_ioctl(fd, request, arg);
}

/* ---- data, for a device that is gone ----------------------------------------
 *
 * While the device is there these pass straight on. A device that is gone
 * fails reads and writes, and a poll reports it at once, as the tty layer
 * does for a hung-up device: readable, writable, error and hang-up. The
 * file is taken in at most once a millisecond here: a data-mode reader calls
 * these far more often than the modem-line requests come. */

static const long long kReloadEveryUs = 1000;

static int gone_fd(int fd) {
    if (!is_shim_fd(fd)) return 0;
    sigset_t saved;
    lock(&saved);
    long long now = now_us();
    if (g_reloaded_us < 0 || now - g_reloaded_us >= kReloadEveryUs) {
        reload_locked();
        g_reloaded_us = now;
    }
    int gone = gone_at_locked(now);
    unlock(&saved);
    return gone;
}

ssize_t read(int fd, void* buf, size_t count) {
    pthread_once(&g_once, init);
    if (g_active && gone_fd(fd)) {
        errno = EIO;
        return -1;
    }
    return g_real_read(fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
    pthread_once(&g_once, init);
    if (g_active && gone_fd(fd)) {
        errno = EIO;
        return -1;
    }
    return g_real_write(fd, buf, count);
}

/* Marks the gone device's entries and hides them from the real call (a
 * negative descriptor is skipped). Returns how many were marked. */
static int mark_gone(struct pollfd* fds, nfds_t n, int* saved_fds) {
    int marked = 0;
    for (nfds_t i = 0; i < n; ++i) {
        saved_fds[i] = fds[i].fd;
        if (fds[i].fd >= 0 && gone_fd(fds[i].fd)) {
            fds[i].revents = (short)((fds[i].events & (POLLIN | POLLOUT | POLLRDNORM | POLLWRNORM)) | POLLERR | POLLHUP);
            fds[i].fd = -1;
            ++marked;
        }
    }
    return marked;
}

static int merge_gone(struct pollfd* fds, nfds_t n, const int* saved_fds, int rc, int marked) {
    for (nfds_t i = 0; i < n; ++i) {
        if (fds[i].fd != saved_fds[i]) {
            fds[i].fd = saved_fds[i];
            fds[i].revents = (short)(POLLERR | POLLHUP | (fds[i].events & (POLLIN | POLLOUT | POLLRDNORM | POLLWRNORM)));
        }
    }
    return rc < 0 ? rc : rc + marked;
}

#define QN_POLL_MAX 64

int poll(struct pollfd* fds, nfds_t n, int timeout) {
    pthread_once(&g_once, init);
    if (!g_active || n > QN_POLL_MAX) return g_real_poll(fds, n, timeout);
    int saved_fds[QN_POLL_MAX];
    int marked = mark_gone(fds, n, saved_fds);
    if (marked == 0) return g_real_poll(fds, n, timeout);
    int rc = g_real_poll(fds, n, 0);
    return merge_gone(fds, n, saved_fds, rc, marked);
}

int ppoll(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask) {
    pthread_once(&g_once, init);
    if (!g_active || n > QN_POLL_MAX) return g_real_ppoll(fds, n, timeout, mask);
    int saved_fds[QN_POLL_MAX];
    int marked = mark_gone(fds, n, saved_fds);
    if (marked == 0) return g_real_ppoll(fds, n, timeout, mask);
    struct timespec none = {0, 0};
    int rc = g_real_ppoll(fds, n, &none, mask);
    return merge_gone(fds, n, saved_fds, rc, marked);
}

/* The checked forms that _FORTIFY_SOURCE builds call. */
ssize_t __read_chk(int fd, void* buf, size_t count, size_t buflen) {
    if (count > buflen) abort();
    return read(fd, buf, count);
}

int __poll_chk(struct pollfd* fds, nfds_t n, int timeout, size_t fdslen) {
    if (fdslen / sizeof *fds < n) abort();
    return poll(fds, n, timeout);
}

int __ppoll_chk(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask, size_t fdslen) {
    if (fdslen / sizeof *fds < n) abort();
    return ppoll(fds, n, timeout, mask);
}
