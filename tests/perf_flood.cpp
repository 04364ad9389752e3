// perf_flood.cpp: a writer that never stops must not hold the launcher. Through a real
// pipe, a forked child writes counter lines as fast as it can until told to stop; each
// pump_build() call has to come back while it is still writing, and in the end
// install.log holds every byte it wrote and the last line is the one shown. How long a
// call takes is a figure of scripts/bench (the largest frame gap), not asserted here.

#include "launcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The stream: "[i/1000000000] flood line\n" for i = 1, 2, ... Writes the lines from
// *next on into buf (whole lines only) and returns the bytes used.
size_t
lines(char *buf, size_t room, unsigned *next)
{
	size_t used = 0;
	for (;;) {
		char l[64];
		int n = snprintf(l, sizeof l, "[%u/1000000000] flood line\n", *next);
		if (n <= 0 || used + (size_t)n > room)
			return used;
		memcpy(buf + used, l, (size_t)n);
		used += (size_t)n;
		++*next;
	}
}

volatile sig_atomic_t g_stop;

void
on_term(int)
{
	g_stop = 1;
}

// The child: floods fd until SIGTERM, then reports the bytes written on report.
[[noreturn]] void
writer(int fd, int report)
{
	struct sigaction sa = {};
	sa.sa_handler = on_term;
	(void)sigaction(SIGTERM, &sa, nullptr);
	static char buf[65536];
	unsigned next = 1;
	unsigned long long total = 0;
	while (!g_stop) {
		size_t n = lines(buf, sizeof buf, &next);
		for (size_t off = 0; off < n && !g_stop;) {
			ssize_t w = write(fd, buf + off, n - off);
			if (w < 0 && errno == EINTR)
				continue;
			if (w <= 0)
				_exit(2);
			off += (size_t)w;
			total += (unsigned long long)w;
		}
	}
	(void)!write(report, &total, sizeof total);
	_exit(0);
}

TEST(Flood, EachCallReturnsWhileTheWriterWritesAndTheLogKeepsEveryByte)
{
	reset_state();
	std::string dir = std::string(BKF_TEST_TMP) + "/perf.XXXXXX";
	(void)mkdir(BKF_TEST_TMP, 0755);
	ASSERT_NE(mkdtemp(dir.data()), nullptr);
	std::string log = dir + "/install.log";

	int p[2], r[2];
	ASSERT_EQ(pipe(p), 0);
	ASSERT_EQ(pipe(r), 0);
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		(void)close(p[0]);
		(void)close(r[0]);
		writer(p[1], r[1]);
	}
	(void)close(p[1]);
	(void)close(r[1]);
	(void)fcntl(p[0], F_SETFL, O_NONBLOCK);
	S.fd = p[0];
	S.pid = pid;
	S.state = WORKING;
	S.log = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
	ASSERT_GE(S.log, 0);

	// Three turns' worth of draining while the flood goes on: every call comes back
	// with output read, the pipe still open and the writer still at work.
	for (int turn = 0; turn < 3; turn++) {
		SCOPED_TRACE(turn);
		struct pollfd q = {S.fd, POLLIN, 0};
		ASSERT_EQ(poll(&q, 1, 10000), 1);
		EXPECT_NE(pump_build(), 0);
		EXPECT_GE(S.fd, 0);
		EXPECT_EQ(S.state, WORKING);
		EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the writer stopped by itself";
	}

	ASSERT_EQ(kill(pid, SIGTERM), 0);
	for (int i = 0; S.pid > 0 && i < 100000; i++) {
		struct pollfd q = {S.fd, POLLIN, 0};
		(void)poll(&q, 1, S.fd >= 0 ? 100 : 1);
		(void)pump_build();
	}
	ASSERT_LT(S.fd, 0) << "the output never ended";
	EXPECT_EQ(S.pid, 0);
	EXPECT_EQ(S.state, READY);
	unsigned long long total = 0;
	ASSERT_EQ(read(r[0], &total, sizeof total), (ssize_t)sizeof total);
	(void)close(r[0]);

	// install.log is the stream, byte for byte; the last line shown is its last whole one.
	FILE *f = fopen(log.c_str(), "rb");
	ASSERT_NE(f, nullptr);
	static char want[65536], got[65536];
	unsigned next = 1;
	unsigned long long seen = 0;
	for (;;) {
		unsigned first = next;
		size_t n = lines(want, sizeof want, &next);
		size_t k = fread(got, 1, n, f);
		seen += k;
		if (memcmp(want, got, k) != 0) {
			ADD_FAILURE() << "the log differs in the chunk from line " << first;
			break;
		}
		if (k < n)
			break;
	}
	EXPECT_EQ(seen, total) << "install.log does not hold every byte written";

	// Every line was read in order: the one shown is the stream's last whole line.
	char tail[128] = {};
	ASSERT_GT(total, sizeof tail);
	ASSERT_EQ(fseek(f, -(long)(sizeof tail - 1), SEEK_END), 0);
	ASSERT_EQ(fread(tail, 1, sizeof tail - 1, f), sizeof tail - 1);
	(void)fclose(f);
	char *nl = strrchr(tail, '\n');
	ASSERT_NE(nl, nullptr);
	*nl = '\0';
	char *line = strrchr(tail, '\n');
	ASSERT_NE(line, nullptr);
	EXPECT_STREQ(S.last_line, line + 1);
	unsigned i = 0;
	ASSERT_EQ(sscanf(line + 1, "[%u/", &i), 1);
	EXPECT_DOUBLE_EQ(S.progress, i / 1e9);

	std::string rm = "rm -rf '" + dir + "'";
	(void)!system(rm.c_str());
}

}  // namespace
