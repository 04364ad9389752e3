// fakes.h: helpers for the tests that run real child programs: a private temp directory
// per test, fake installers and games written as a few lines of sh or Python, file
// reading, and the drain of a build run with a watchdog, so that a fault fails a test
// instead of hanging it.
#pragma once

#include "launcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// How long a build run in a test may take before the watchdog ends it as a failure.
constexpr Uint32 WATCHDOG_MS = 30000;

static inline Uint32
test_ms()
{
	struct timespec ts;
	(void)clock_gettime(CLOCK_MONOTONIC, &ts);
	return (Uint32)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

static inline void
test_nap(long ms)
{
	struct timespec ts = {0, ms * 1000000};
	(void)nanosleep(&ts, nullptr);
}

// A fresh directory of its own under the build tree's tmp/, unique across parallel runs.
static inline std::string
temp_dir(const char *name)
{
	(void)mkdir(BKF_TEST_TMP, 0755);
	std::string t = std::string(BKF_TEST_TMP) + "/" + name + ".XXXXXX";
	char buf[1024];
	snprintf(buf, sizeof buf, "%s", t.c_str());
	if (!mkdtemp(buf))
		ADD_FAILURE() << "mkdtemp " << buf << ": " << strerror(errno);
	return buf;
}

static inline int
remove_one(const char *path, const struct stat *, int, struct FTW *)
{
	(void)chmod(path, 0755);  // a read-only directory a test made must go too
	(void)remove(path);
	return 0;
}

static inline void
remove_tree(const std::string &dir)
{
	if (!dir.empty())
		(void)nftw(dir.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
}

static inline void
make_dirs(const std::string &path)
{
	for (size_t i = 1; i <= path.size(); i++)
		if (i == path.size() || path[i] == '/')
			(void)mkdir(path.substr(0, i).c_str(), 0755);
}

static inline void
write_file(const std::string &path, const std::string &bytes, mode_t mode = 0644)
{
	size_t slash = path.rfind('/');
	if (slash != std::string::npos && slash > 0)
		make_dirs(path.substr(0, slash));
	FILE *f = fopen(path.c_str(), "wb");
	ASSERT_NE(f, nullptr) << path << ": " << strerror(errno);
	ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
	ASSERT_EQ(fclose(f), 0);
	ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

// A fake program: an sh script with the given body, executable.
static inline void
write_sh(const std::string &path, const std::string &body)
{
	write_file(path, "#!/bin/sh\n" + body, 0755);
}

static inline bool
exists(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

// The whole file, NUL bytes included; "<missing>" when it cannot be opened.
static inline std::string
read_file(const std::string &path)
{
	FILE *f = fopen(path.c_str(), "rb");
	if (!f)
		return "<missing>";
	std::string s;
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof buf, f)) > 0)
		s.append(buf, n);
	(void)fclose(f);
	return s;
}

// Sets the launcher's directory strings as its start-up would from these values.
static inline void
set_dirs(const std::string &python, const std::string &share, const std::string &home)
{
	snprintf(g_python, sizeof g_python, "%s", python.c_str());
	snprintf(g_share, sizeof g_share, "%s", share.c_str());
	snprintf(g_home, sizeof g_home, "%s", home.c_str());
	snprintf(g_logs, sizeof g_logs, "%s/logs", g_home);
}

// Polls pred every few ms for at most ms; returns its last value.
template <class Pred>
static bool
wait_for(Pred pred, Uint32 ms = WATCHDOG_MS)
{
	Uint32 t0 = test_ms();
	while (!pred()) {
		if (test_ms() - t0 >= ms)
			return pred();
		test_nap(5);
	}
	return true;
}

// One wait of the main loop: for the pipe when it is open, else a few ms.
static inline void
turn_wait(int fd)
{
	if (fd >= 0) {
		struct pollfd p = {fd, POLLIN, 0};
		(void)poll(&p, 1, 20);
	} else {
		test_nap(5);
	}
}

// Ends a child that a test gave up on: its group and itself killed, the run ended as
// at a quit, without a grace.
static inline void
kill_build()
{
	if (S.pid > 0) {
		(void)kill(-S.pid, SIGKILL);
		(void)kill(S.pid, SIGKILL);
	}
	if (S.check_pid > 0) {
		(void)kill(-S.check_pid, SIGKILL);
		(void)kill(S.check_pid, SIGKILL);
	}
	Uint32 limit = SHUTDOWN_LIMIT_MS, grace = CHECK_GRACE_MS;
	SHUTDOWN_LIMIT_MS = CHECK_GRACE_MS = 1;
	end_build();
	SHUTDOWN_LIMIT_MS = limit;
	CHECK_GRACE_MS = grace;
}

// Drains the running build as the main loop would, until it has ended: its output
// over and the installer reaped. Gives up after the watchdog: the child is then killed
// with its group and reaped, and false returned.
static inline bool
drain_build(Uint32 ms = WATCHDOG_MS)
{
	Uint32 t0 = test_ms();
	while (S.pid > 0) {
		if (test_ms() - t0 >= ms) {
			kill_build();
			return false;
		}
		turn_wait(S.fd);
		(void)pump_build();
	}
	return true;
}

// Drains until pred holds or the run ends; returns pred's value.
template <class Pred>
static bool
pump_until(Pred pred, Uint32 ms = WATCHDOG_MS)
{
	Uint32 t0 = test_ms();
	while (!pred() && S.pid > 0 && test_ms() - t0 < ms) {
		turn_wait(S.fd);
		(void)pump_build();
	}
	return pred();
}

// The status query as the main loop runs it, to its end; false after the watchdog.
static inline bool
run_status(Uint32 ms = WATCHDOG_MS)
{
	start_status();
	Uint32 t0 = test_ms();
	while (S.check_pid > 0) {
		if (test_ms() - t0 >= ms) {
			kill_build();
			return false;
		}
		turn_wait(S.check_fd);
		(void)pump_status();
	}
	return true;
}

// True once the process is gone or only a zombie is left of it (an orphan waiting for
// whoever adopts it).
static inline bool
dead(pid_t pid)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
	std::string st = read_file(path);
	if (st == "<missing>")
		return true;
	size_t paren = st.rfind(')');
	return paren != std::string::npos && paren + 2 < st.size() && st[paren + 2] == 'Z';
}

// True when pid was a child of this process and has been reaped already.
static inline bool
reaped(pid_t pid)
{
	int st;
	errno = 0;
	return waitpid(pid, &st, WNOHANG) < 0 && errno == ECHILD;
}

static inline pid_t
read_pid(const std::string &path)
{
	return (pid_t)atoi(read_file(path).c_str());
}

// The launcher's own state between tests: the start values, the default limits, its
// directory strings cleared, and SIGPIPE ignored as main() does.
static inline void
launcher_reset()
{
	if (S.pid > 0 || S.fd >= 0 || S.check_pid > 0)
		kill_build();
	if (S.log >= 0)
		(void)close(S.log);
	reset_state();
	STATUS_LIMIT_MS = 60000;
	SHUTDOWN_LIMIT_MS = 5000;
	KILL_WAIT_MS = 500;
	CHECK_GRACE_MS = 500;
	PUMP_LIMIT_MS = 40;
	g_python[0] = g_share[0] = g_home[0] = g_logs[0] = '\0';
	(void)signal(SIGPIPE, SIG_IGN);
}
