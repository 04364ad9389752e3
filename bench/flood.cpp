// flood.cpp: a stand-in installer for the benchmarks, run by the launcher in place of
// the interpreter (its mode is its last argument). "--status" answers from
// BKF_BENCH_STATUS ("ready" or else an update). "--download" writes BKF_BENCH_BYTES
// bytes of counter lines as fast as it can, then records its start and end times
// (CLOCK_MONOTONIC, ns) in BKF_BENCH_TIMES; with no byte count it announces a step,
// records its start and keeps quiet until a signal ends it. Run by hand with its output into a file, it is
// the floor of the build overhead.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

// Lines like a build tool's: "[i/9999999] Building C object ...", i counting from 1, put
// out in writes of at most room bytes, or one line a write when a line is larger;
// the stream is cut after exactly total bytes.
static int
flood(long long total, size_t room)
{
	static const char tail[] = "/9999999] Building C object CMakeFiles/bkf_obj.dir/recomp.c.o\n";
	static char buf[65536];
	size_t used = 0;
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
			if (put(buf, used) != 0)
				return 1;
			used = 0;
		}
		memcpy(buf + used, line, n);
		used += n;
		total -= (long long)n;
	}
	return used && put(buf, used) != 0;
}

// Records the run's start and end (0 while it has not ended) where BKF_BENCH_TIMES says.
static int
record(long long t0, long long t1)
{
	const char *path = getenv("BKF_BENCH_TIMES");
	if (!path)
		return 0;
	FILE *f = fopen(path, "w");
	if (!f)
		return 1;
	fprintf(f, "%lld %lld\n", t0, t1);
	return fclose(f) != 0;
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

	const char *b = getenv("BKF_BENCH_BYTES");
	long long total = b ? atoll(b) : 0;
	long long t0 = now_ns();
	if (total <= 0) {
		const char step[] = "@step 1 3 Waiting for the server\n";
		(void)put(step, sizeof step - 1);
		(void)record(t0, 0);
		for (;;)
			pause();
	}
	// By default the lines go out in 64 KiB writes, the most a pipe holds; with
	// BKF_BENCH_WRITE=line each line is one write, as an installer that flushes line by
	// line (what the protocol asks of it) sends them.
	const char *how = getenv("BKF_BENCH_WRITE");
	int bad = flood(total, how && !strcmp(how, "line") ? 1 : 65536);
	return record(t0, now_ns()) | bad;
}
