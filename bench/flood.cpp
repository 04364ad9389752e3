// flood.cpp: a stand-in installer for the benchmarks, run by the launcher in place of
// the interpreter (its mode is its last argument). "--status" answers from
// BKF_BENCH_STATUS ("ready" or else an update). "--download" writes BKF_BENCH_BYTES
// bytes of counter lines as fast as it can, one line a write or in blocks
// (BKF_BENCH_WRITE), and records in BKF_BENCH_TIMES when its first and last writes
// began and ended and when BKF_BENCH_LOG held every byte; with no byte count it
// announces a step and keeps quiet until a signal ends it. BKF_BENCH_TERM records when
// SIGTERM arrived. Run with its output into a file or through cat, it is the floor.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static long long
now_ns()
{
	struct timespec ts;
	(void)clock_gettime(CLOCK_MONOTONIC, &ts);
	return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static int
put(const char *s, size_t n)
{
	while (n > 0) {
		ssize_t w = write(1, s, n);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0)
			return -1;
		s += w;
		n -= (size_t)w;
	}
	return 0;
}

static char NUM[24] = "1";  // the done count, in decimal, counted up in place
static size_t NUM_LEN = 1;

static void
count_up()
{
	size_t k = NUM_LEN;
	while (k > 0 && NUM[k - 1] == '9')
		NUM[--k] = '0';
	if (k > 0) {
		NUM[k - 1]++;
	} else {
		memmove(NUM + 1, NUM, NUM_LEN);
		NUM[0] = '1';
		NUM_LEN++;
	}
}

static long long T_FIRST;  // when the first write began

// Lines like a build tool's: "[i/9999999] Building C object ...", i counting from 1, put
// out in writes of at most room bytes, or one line a write when a line is larger;
// the stream is cut after exactly total bytes.
static int
flood(long long total, size_t room)
{
	static const char tail[] = "/9999999] Building C object CMakeFiles/bkf_obj.dir/recomp.c.o\n";
	static char buf[65536];  // the largest block: the default pipe's whole size
	size_t used = 0;
	if (room > sizeof buf)
		room = sizeof buf;
	while (total > 0) {
		char line[128];
		line[0] = '[';
		memcpy(line + 1, NUM, NUM_LEN);
		memcpy(line + 1 + NUM_LEN, tail, sizeof tail - 1);
		size_t n = 1 + NUM_LEN + sizeof tail - 1;
		count_up();
		if ((long long)n > total)
			n = (size_t)total;
		if (used + n > room) {
			if (!T_FIRST)
				T_FIRST = now_ns();
			if (put(buf, used) != 0)
				return 1;
			used = 0;
		}
		memcpy(buf + used, line, n);
		used += n;
		total -= (long long)n;
	}
	if (!T_FIRST)
		T_FIRST = now_ns();
	return used && put(buf, used) != 0;
}

// Waits until the file at path holds total bytes: then the reader at the other end of
// the pipe has written all of it. Polled every 100 µs, which costs next to nothing.
// Returns 0 when it is not whole within a minute.
static long long
whole(const char *path, long long total)
{
	long long give_up = now_ns() + 60000000000LL;
	struct stat st;
	while (stat(path, &st) != 0 || st.st_size < total) {
		if (now_ns() > give_up)
			return 0;
		struct timespec ts = {0, 100000};
		(void)nanosleep(&ts, nullptr);
	}
	return now_ns();
}

// Records "first last whole" (ns, CLOCK_MONOTONIC) where BKF_BENCH_TIMES says; 0 for
// what has not happened yet.
static int
record(long long t0, long long t1, long long t2)
{
	const char *path = getenv("BKF_BENCH_TIMES");
	if (!path)
		return 0;
	FILE *f = fopen(path, "w");
	if (!f)
		return 1;
	fprintf(f, "%lld %lld %lld\n", t0, t1, t2);
	return fclose(f) != 0;
}

static const char *TERM_PATH;

// Writes the time of arrival in decimal and ends, with async-signal-safe calls only.
static void
on_term(int)
{
	long long t = now_ns();
	char d[24], *p = d + sizeof d;
	do
		*--p = (char)('0' + t % 10);
	while ((t /= 10) > 0);
	int fd = open(TERM_PATH, O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (fd >= 0) {
		(void)!write(fd, p, (size_t)(d + sizeof d - p));
		(void)close(fd);
	}
	_exit(143);
}

int
main(int argc, char **argv)
{
	const char *mode = argc > 1 ? argv[argc - 1] : "";
	if (!strcmp(mode, "--status")) {
		const char *s = getenv("BKF_BENCH_STATUS");
		puts(s && !strcmp(s, "ready") ? "{\"ready\": true}"
			: "{\"ready\": false, \"needs_disc\": false}");
		return 0;
	}
	const char *pg = getenv("BKF_PGROUP");
	if (pg && !strcmp(pg, "1"))
		(void)setpgid(0, 0);
	TERM_PATH = getenv("BKF_BENCH_TERM");
	if (TERM_PATH)
		(void)signal(SIGTERM, on_term);

	const char *b = getenv("BKF_BENCH_BYTES");
	long long total = b ? atoll(b) : 0;
	if (total <= 0) {
		const char step[] = "@step 1 3 Waiting for the server\n";
		(void)put(step, sizeof step - 1);
		(void)record(now_ns(), 0, 0);
		for (;;)
			pause();
	}
	(void)record(now_ns(), 0, 0);  // started: the flood is on its way
	// BKF_BENCH_WRITE is "line" (each line one write, as an installer that flushes line
	// by line sends them) or a block size in bytes; 64 KiB by default.
	const char *how = getenv("BKF_BENCH_WRITE");
	size_t room = how && !strcmp(how, "line") ? 1 : how && atoi(how) > 0 ? (size_t)atoi(how) : 65536;
	int bad = flood(total, room);
	long long t1 = now_ns();
	// The reader sees the end; what it makes of it is watched in the file it writes.
	(void)close(1);
	(void)close(2);
	const char *log = getenv("BKF_BENCH_LOG");
	long long t2 = log && !bad ? whole(log, total) : t1;
	return record(T_FIRST, t1, t2) | bad;
}
