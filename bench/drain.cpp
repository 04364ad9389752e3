// drain.cpp: the drain's own throughput. "bench_drain pump|bare BYTES LOG WRITER" runs
// WRITER (the flood installer) with its output into a pipe and reads all BYTES of it:
// "pump" with pump_build() on the non-blocking read end, as the launcher does (waiting
// in poll() whenever a call finds the pipe empty), "bare" with a relay and nothing
// else: blocking reads of 1 MiB, each written out with write(2). Both copy the stream
// into LOG, from a pipe of the size the launcher's build run uses. Prints the seconds.

#include "launcher.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static double
now_s()
{
	struct timespec ts;
	(void)clock_gettime(CLOCK_MONOTONIC, &ts);
	return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

int
main(int argc, char **argv)
{
	if (argc != 5) {
		fputs("usage: bench_drain pump|bare BYTES LOG WRITER\n", stderr);
		return 2;
	}
	int pump = !strcmp(argv[1], "pump");
	const char *log = argv[3];
	(void)setenv("BKF_BENCH_BYTES", argv[2], 1);
	(void)unsetenv("BKF_BENCH_TIMES");

	double t0 = now_s();
	int p[2];
	if (pipe(p) != 0)
		return 1;
	(void)fcntl(p[0], F_SETPIPE_SZ, 1 << 20);  // the size start_build() asks for
	pid_t pid = fork();
	if (pid == 0) {
		(void)dup2(p[1], 1);
		(void)close(p[0]);
		(void)close(p[1]);
		execl(argv[4], argv[4], "--download", (char *)nullptr);
		_exit(127);
	}
	(void)close(p[1]);
	if (pid < 0)
		return 1;

	if (pump) {
		reset_state();
		(void)fcntl(p[0], F_SETFL, O_NONBLOCK);
		S.fd = p[0];
		S.pid = pid;
		S.state = WORKING;
		S.log = open(log, O_WRONLY | O_CREAT | O_TRUNC, 0644);
		while (S.pid > 0) {
			int fd = S.fd;
			if (!pump_build() && S.pid > 0) {
				struct pollfd q = {fd, POLLIN, 0};
				(void)poll(&q, 1, fd >= 0 ? 50 : 1);
			}
		}
	} else {
		int f = open(log, O_WRONLY | O_CREAT | O_TRUNC, 0644);
		static char buf[1 << 20];  // the block the launcher reads
		ssize_t n;
		while ((n = read(p[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
			for (ssize_t off = 0; off < n;) {
				ssize_t w = write(f, buf + off, (size_t)(n - off));
				if (w <= 0)
					return 1;
				off += w;
			}
		}
		(void)close(p[0]);
		(void)close(f);
		int st;
		(void)waitpid(pid, &st, 0);
	}
	double t1 = now_s();

	struct stat sb = {};
	if (stat(log, &sb) != 0 || (long long)sb.st_size != atoll(argv[2])) {
		fprintf(stderr, "bench_drain: %s holds %lld bytes, not %s\n", log,
			(long long)sb.st_size, argv[2]);
		return 1;
	}
	printf("%.6f\n", t1 - t0);
	return 0;
}
