// installer_control.cpp: the installer child processes. check_status() runs the
// installer once with "--status" and picks the first real screen from its answer;
// start_build() runs it with "--download" behind a non-blocking pipe that pump_build()
// drains once per main-loop turn, logging every byte and reading the line protocol.

#include "launcher.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// [SECTION] Limits ------------------------------------------------------------------

Uint32 STATUS_LIMIT_MS = 60000;   // an installer that never answers must not hold the launcher
Uint32 SHUTDOWN_LIMIT_MS = 5000;  // the grace a build child gets before SIGKILL at the end
Uint32 PUMP_LIMIT_MS = 40;        // leaves room for a frame well within every 100 ms

static Uint32
now_ms()
{
	struct timespec ts;
	(void)clock_gettime(CLOCK_MONOTONIC, &ts);
	return (Uint32)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

static void
nap_ms(long ms)
{
	struct timespec ts = {0, ms * 1000000};
	(void)nanosleep(&ts, nullptr);
}

// Waits for pid for at most limit ms; one that has not ended by then is killed (its
// group first, when asked) and reaped. Returns 1 when it ended in time. *st gets the
// wait status, 0 when the wait itself failed.
static int
reap_within(pid_t pid, Uint32 limit, int group, int *st)
{
	Uint32 t0 = now_ms();
	for (;;) {
		*st = 0;
		pid_t r = waitpid(pid, st, WNOHANG);
		if (r == pid)
			return 1;
		if (r < 0 && errno != EINTR) {
			*st = 0;
			return 1;
		}
		if (now_ms() - t0 >= limit)
			break;
		nap_ms(5);
	}
	if (group)
		(void)kill(-pid, SIGKILL);
	(void)kill(pid, SIGKILL);
	while (waitpid(pid, st, 0) < 0 && errno == EINTR) {
	}
	return 0;
}

// Writes a whole buffer to a descriptor from a forked child; a failure changes nothing.
static void
put(int fd, const char *s, size_t n)
{
	while (n > 0) {
		ssize_t w = write(fd, s, n);
		if (w <= 0)
			return;
		s += w;
		n -= (size_t)w;
	}
}

// [SECTION] Command line and status query -------------------------------------------

void
install_argv(const char *argv[9], const char *mode)
{
	static char installer[1200];
	static char korvex[1200];

	snprintf(installer, sizeof installer, "%.*s/src/bkf/tools/install/install.py",
		(int)sizeof g_share - 1, g_share);
	snprintf(korvex, sizeof korvex, "%.*s/src/korvex", (int)sizeof g_share - 1, g_share);
	argv[0] = g_python;
	argv[1] = "-I";
	argv[2] = installer;
	argv[3] = "--dest";
	argv[4] = g_home;
	argv[5] = "--korvex";
	argv[6] = korvex;
	argv[7] = mode;
	argv[8] = nullptr;
}

static void
status_failed()
{
	S.state = FAILED;
	snprintf(S.msg, sizeof S.msg,
		"The installer could not run (%.300s). Reinstalling the app may help.", g_python);
}

// Reads the status answer: only the text from the last "{" counts.
void
status_answer(const char *answer)
{
	const char *o = strrchr(answer, '{');
	if (!o) {
		status_failed();
	} else if (strstr(o, "\"ready\": true")) {
		S.state = READY;
	} else if (strstr(o, "\"needs_disc\": true")) {
		S.state = SETUP;
		S.needs_disc = 1;
	} else {
		S.state = UPDATE;
		S.needs_disc = 0;
	}
}

// Reads up to 4095 bytes of the answer, all within the time left until deadline.
// Returns 0 when the time ran out.
static int
read_answer(int fd, char *buf, size_t room, Uint32 t0)
{
	size_t got = 0;
	while (got < room) {
		Uint32 spent = now_ms() - t0;
		if (spent >= STATUS_LIMIT_MS)
			return 0;
		struct pollfd p = {fd, POLLIN, 0};
		int r = poll(&p, 1, (int)(STATUS_LIMIT_MS - spent));
		if (r == 0)
			return 0;
		if (r < 0)
			return 1;
		ssize_t n = read(fd, buf + got, room - got);
		if (n <= 0)
			return 1;
		got += (size_t)n;
	}
	return 1;
}

void
check_status()
{
	const char *argv[9];
	char buf[4096];
	int p[2];

	install_argv(argv, "--status");
	if (pipe(p) != 0) {
		status_failed();
		return;
	}
	pid_t pid = fork();
	if (pid == 0) {
		(void)dup2(p[1], 1);
		int null = open("/dev/null", O_WRONLY);
		if (null >= 0)
			(void)dup2(null, 2);
		(void)close(p[0]);
		close_fds_from(3);
		execv(argv[0], const_cast<char *const *>(argv));
		_exit(127);
	}
	(void)close(p[1]);
	memset(buf, 0, sizeof buf);
	if (pid < 0) {
		(void)close(p[0]);
		status_failed();
		return;
	}

	// The whole query, reading and waiting, has STATUS_LIMIT_MS; then it counts as failed.
	Uint32 t0 = now_ms();
	int in_time = read_answer(p[0], buf, sizeof buf - 1, t0);
	(void)close(p[0]);
	Uint32 spent = now_ms() - t0;
	Uint32 left = in_time && spent < STATUS_LIMIT_MS ? STATUS_LIMIT_MS - spent : 0;
	int st;
	int ended = reap_within(pid, left, 0, &st);
	if (!in_time || !ended || !WIFEXITED(st) || WEXITSTATUS(st) != 0) {
		status_failed();
		return;
	}
	status_answer(buf);
}

// [SECTION] Build run ---------------------------------------------------------------

static void
build_failed()
{
	S.state = FAILED;
	snprintf(S.msg, sizeof S.msg, "%s", "The build could not start.");
}

void
start_build()
{
	// The record tracks one child: while an earlier installer is still recorded (a
	// second activation in one batch, "Try Again" while an errored one winds down),
	// no second one is started.
	if (S.pid > 0)
		return;

	struct stat st;
	if (S.state == FAILED && stat(g_home, &st) != 0)
		S.needs_disc = 1;

	const char *argv[9];
	install_argv(argv, "--download");
	mkdirs(g_logs);

	char path[1200];
	snprintf(path, sizeof path, "%.*s/install.log", (int)sizeof g_logs - 1, g_logs);
	if (S.log)
		(void)fclose(S.log);
	S.log = fopen(path, "w");

	int p[2];
	if (pipe(p) != 0) {
		build_failed();
		return;
	}
	// A pipe of 1 MiB (the most Linux grants unprivileged, 64 KiB by default) holds what
	// a chatty installer writes while a frame is drawn, so it rarely waits on the
	// launcher. Without it the pipe merely stays smaller.
	(void)fcntl(p[0], F_SETPIPE_SZ, 1 << 20);
	// Until execv the child runs with the launcher's SIGTERM handler (the media library
	// turns SIGTERM into a quit event), which would swallow a cancel that comes this
	// early. SIGTERM is held across the fork; the child restores the default first, so
	// a cancel that arrived meanwhile ends it as soon as it unblocks.
	sigset_t term, mask;
	(void)sigemptyset(&term);
	(void)sigaddset(&term, SIGTERM);
	(void)sigprocmask(SIG_BLOCK, &term, &mask);
	pid_t pid = fork();
	if (pid == 0) {
		struct sigaction dfl = {};
		dfl.sa_handler = SIG_DFL;
		(void)sigaction(SIGTERM, &dfl, nullptr);
		(void)sigprocmask(SIG_SETMASK, &mask, nullptr);
		(void)dup2(p[1], 1);
		(void)dup2(p[1], 2);
		(void)close(p[0]);
		close_fds_from(3);
		setenv("BKF_PGROUP", "1", 1);
		setenv("PYTHONUNBUFFERED", "1", 1);
		execv(argv[0], const_cast<char *const *>(argv));
		char line[1400];
		int n = snprintf(line, sizeof line, "@error cannot run %.1023s: %.300s\n", g_python,
			strerror(errno));
		if (n > 0)
			put(2, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
		_exit(127);
	}
	(void)sigprocmask(SIG_SETMASK, &mask, nullptr);
	(void)close(p[1]);
	if (pid < 0) {
		(void)close(p[0]);
		build_failed();
		return;
	}

	(void)fcntl(p[0], F_SETFL, O_NONBLOCK);
	S.pid = pid;
	S.line_len = 0;
	S.fd = p[0];
	snprintf(S.step_label, sizeof S.step_label, "%s", "Starting");
	S.state = WORKING;
	S.cancelled = 0;
	S.last_line[0] = '\0';
	S.step = 0;
	S.steps = 0;
	S.progress = -1.0;
	S.started_ms = SDL_GetTicks();
}

void
cancel_build()
{
	if (S.pid <= 0)
		return;
	S.cancelled = 1;
	// In its first moments the installer has not made its own group yet: then the
	// group does not exist, and the signal goes to the installer itself.
	if (kill(-S.pid, SIGTERM) != 0 && errno == ESRCH)
		(void)kill(S.pid, SIGTERM);
}

// [SECTION] Line protocol -----------------------------------------------------------

// One decimal int, as "%d" reads it (leading white space, a sign), bounded to int.
static int
read_int(const char **p, int *v)
{
	char *end;
	errno = 0;
	long n = strtol(*p, &end, 10);
	if (end == *p)
		return 0;
	if (n > INT32_MAX)
		n = INT32_MAX;
	if (n < INT32_MIN)
		n = INT32_MIN;
	*v = (int)n;
	*p = end;
	return 1;
}

// One unsigned 32-bit number, as "%u" reads it, bounded to 32 bits. Plain digits, as
// every counter line has them, are read here; anything else goes through strtoul.
static int
read_u32(const char **p, unsigned *v)
{
	const char *d = *p;
	if (*d >= '0' && *d <= '9') {
		unsigned long long n = 0;
		for (; *d >= '0' && *d <= '9'; d++)
			if (n <= UINT32_MAX)
				n = n * 10 + (unsigned)(*d - '0');
		*v = n > UINT32_MAX ? UINT32_MAX : (unsigned)n;
		*p = d;
		return 1;
	}
	char *end;
	unsigned long n = strtoul(*p, &end, 10);
	if (end == *p)
		return 0;
	*v = n > UINT32_MAX ? UINT32_MAX : (unsigned)n;
	*p = end;
	return 1;
}

static int
is_space(char c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

// "@step N M label": both numbers are needed; the white space after them is skipped.
static void
step_line(const char *args)
{
	const char *p = args;
	int a, b;
	if (!read_int(&p, &a) || !read_int(&p, &b))
		return;
	while (is_space(*p))
		p++;
	S.step = a;
	S.steps = b;
	S.progress = -1.0;
	snprintf(S.step_label, sizeof S.step_label, "%.159s", p);
}

// "[i/n]" at the start of a counter line: the fraction done, not limited above 1.
static void
counter_line(const char *l)
{
	const char *p = l + 1;
	unsigned i, n;
	if (read_u32(&p, &i) && *p == '/' && (p++, read_u32(&p, &n)) && n != 0)
		S.progress = (double)i / (double)n;
}

// The line shown under the bar: the first 255 bytes, as "%.255s" cuts them. Every line
// of a build's output passes here, so it is copied without the formatter.
static void
show(const char *l)
{
	size_t n = strnlen(l, sizeof S.last_line - 1);
	memcpy(S.last_line, l, n);
	S.last_line[n] = '\0';
}

void
interpret(const char *l)
{
	int at = l[0] == '@';  // the four protocol lines all begin with "@"
	if (at && !strncmp(l, "@step ", 6)) {
		step_line(l + 6);
	} else if (at && !strncmp(l, "@progress ", 10)) {
		double v = strtod(l + 10, nullptr);
		S.progress = v < 0 ? -1.0 : v > 1 ? 1.0 : v;
	} else if (at && !strncmp(l, "@error ", 7)) {
		S.state = FAILED;
		snprintf(S.msg, sizeof S.msg, "%.511s", l + 7);
	} else if (at && !strcmp(l, "@done")) {
		// the installer's own end mark: nothing to show
	} else if (l[0] == '[') {
		counter_line(l);
		show(l);
	} else if (l[0]) {
		show(l);
	}
}

static void
end_line()
{
	S.line[S.line_len] = '\0';
	interpret(S.line);
	S.line_len = 0;
}

// Line assembly: a newline ends a line, carriage returns are dropped, and a line that
// reaches 8191 bytes is ended there, the byte that arrives next being lost. The bytes
// up to the next newline (or up to a full line) are found with memchr and copied whole.
void
feed(const char *bytes, size_t n)
{
	const char *p = bytes, *end = bytes + n;
	while (p < end) {
		if (S.line_len == LINE_MAX_LEN) {
			end_line();
			p++;
			continue;
		}
		size_t room = LINE_MAX_LEN - S.line_len;
		size_t len = (size_t)(end - p) < room ? (size_t)(end - p) : room;
		const char *nl = static_cast<const char *>(memchr(p, '\n', len));
		const char *stop = nl ? nl : p + len;
		while (p < stop) {
			const char *cr = static_cast<const char *>(memchr(p, '\r', (size_t)(stop - p)));
			size_t k = (size_t)((cr ? cr : stop) - p);
			memcpy(S.line + S.line_len, p, k);
			S.line_len += k;
			p += k + (cr != nullptr);
		}
		if (nl) {
			end_line();
			p++;
		}
	}
}

// The output has ended: reap the installer and choose the screen its end leads to.
static void
finish()
{
	(void)close(S.fd);
	S.fd = -1;
	int st = 0;
	(void)waitpid(S.pid, &st, 0);
	S.pid = 0;
	if (S.log) {
		(void)fclose(S.log);
		S.log = nullptr;
	}
	if (S.cancelled) {
		S.state = S.needs_disc ? SETUP : UPDATE;
		return;
	}
	const char *why;
	int num;
	if (WIFSIGNALED(st)) {
		why = "signal";
		num = WTERMSIG(st);
	} else if (WEXITSTATUS(st) == 0) {
		S.state = READY;
		S.needs_disc = 0;
		return;
	} else {
		why = "exit";
		num = WEXITSTATUS(st);
	}
	if (S.state != FAILED) {
		S.state = FAILED;
		snprintf(S.msg, sizeof S.msg, "The build stopped (%s %d). Its log has the details.",
			why, num);
	}
}

// Drains what the installer has written, for at most PUMP_LIMIT_MS so that a flood
// never keeps a frame from being drawn. Returns non-zero when it read output: the
// next turn then looks for input without waiting, so the installer never waits on
// a full pipe.
int
pump_build()
{
	if (S.fd < 0)
		return 0;
	char buf[4096];
	int got = 0;
	Uint32 t0 = now_ms();
	for (;;) {
		ssize_t n = read(S.fd, buf, sizeof buf);
		if (n < 0)
			return got;  // nothing more yet, or an error: the next turn reads again
		if (n == 0)
			break;
		got = 1;
		if (S.log) {
			(void)fwrite(buf, 1, (size_t)n, S.log);
			(void)fflush(S.log);
		}
		feed(buf, (size_t)n);
		// A short read emptied the pipe: what comes next is left to gather while the
		// frame is drawn, and read in whole buffers on the next turn.
		if (n < (ssize_t)sizeof buf || now_ms() - t0 >= PUMP_LIMIT_MS)
			return 1;
	}
	finish();
	return 1;
}

// At the end of the run: a build child still recorded is waited for. Its pipe is
// closed first, so that the wait never depends on what it still has to say, and one
// that has not ended within SHUTDOWN_LIMIT_MS is killed with its group.
void
end_build()
{
	if (S.fd >= 0) {
		(void)close(S.fd);
		S.fd = -1;
	}
	if (S.pid > 0) {
		int st;
		(void)reap_within(S.pid, SHUTDOWN_LIMIT_MS, 1, &st);
		S.pid = 0;
	}
	if (S.log) {
		(void)fclose(S.log);
		S.log = nullptr;
	}
}
