// installer_control.cpp: the installer child processes. check_status() runs the
// installer once with "--status" and picks the first real screen from its answer;
// start_build() runs it with "--download" behind a non-blocking pipe that pump_build()
// drains once per main-loop turn, logging every byte and reading the line protocol.

#include "launcher.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

// [SECTION] Limits ------------------------------------------------------------------

Uint32 STATUS_LIMIT_MS = 60000;   // an installer that never answers must not hold the launcher
Uint32 SHUTDOWN_LIMIT_MS = 5000;  // time to end cleanly once told to stop
Uint32 KILL_WAIT_MS = 500;        // SIGKILL takes effect at once; the rest is a pipe held outside
Uint32 CHECK_GRACE_MS = 500;      // a quit during the check ends the launcher within a second
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

// One limit in seconds, a decimal fraction allowed: "60", "0.3". Returns 0 unless it is
// a number of milliseconds from 1 to a day.
static int
seconds(const char *s, const char **end, Uint32 *ms)
{
	char *e;
	double v = strtod(s, &e);
	if (e == s || !(v >= 0.001 && v <= 86400))
		return 0;
	*ms = (Uint32)lround(v * 1000);
	*end = e;
	return 1;
}

// BKF_LIMITS: "status=S,grace=S", either part alone, in seconds. The status query's
// limit and the grace a child told to stop gets before SIGKILL; a test shortens them.
// Returns 0, changing nothing, when the text is not of that form.
int
read_limits(const char *spec)
{
	Uint32 status = STATUS_LIMIT_MS, grace = SHUTDOWN_LIMIT_MS;
	const char *p = spec;
	for (;;) {
		Uint32 *to;
		if (!strncmp(p, "status=", 7)) {
			to = &status;
			p += 7;
		} else if (!strncmp(p, "grace=", 6)) {
			to = &grace;
			p += 6;
		} else {
			return 0;
		}
		if (!seconds(p, &p, to))
			return 0;
		if (!*p)
			break;
		if (*p++ != ',')
			return 0;
	}
	STATUS_LIMIT_MS = status;
	SHUTDOWN_LIMIT_MS = grace;
	return 1;
}

// Signals a child's whole group; one that has left it gets the signal alone.
static void
signal_group(pid_t pid, int sig)
{
	if (kill(-pid, sig) != 0 && errno == ESRCH)
		(void)kill(pid, sig);
}

// Tells a child and its group to end: SIGTERM, and SIGCONT for one that was stopped,
// which would otherwise never see the SIGTERM.
static void
terminate(pid_t pid)
{
	signal_group(pid, SIGTERM);
	signal_group(pid, SIGCONT);
}

// Waits until the child has ended or deadline_ms has passed (on the monotonic clock of
// now_ms), then kills whatever is left of its group and reaps it. Returns 1 with its
// wait status in *st when it is reaped, 0 when the wait failed.
static int
finish_child(pid_t pid, Uint32 t0, Uint32 limit, int *st)
{
	while (exited(pid) == 0 && now_ms() - t0 < limit)
		nap_ms(5);
	signal_group(pid, SIGKILL);
	return reap(pid, st);
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
	// TRANSLATORS: %s is the path of the Python interpreter.
	snprintf(S.msg, sizeof S.msg,
		tr("The installer could not run (%.300s). Reinstalling the app may help."), g_python);
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

// Starts the status query; pump_status() takes it from there, every main-loop turn.
// Its standard error is /dev/null, or the launcher's own when that cannot be opened.
void
start_status()
{
	const char *argv[9];
	int p[2];

	install_argv(argv, "--status");
	memset(S.answer, 0, sizeof S.answer);
	S.check_len = 0;
	if (pipe2(p, O_CLOEXEC) != 0) {
		status_failed();
		return;
	}
	int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
	Spawn sp = {argv, environ, nullptr, p[1], null, 1, 1};
	pid_t pid = spawn(&sp);
	(void)close(p[1]);
	if (null >= 0)
		(void)close(null);
	if (pid < 0) {
		(void)close(p[0]);
		status_failed();
		return;
	}
	(void)fcntl(p[0], F_SETFL, O_NONBLOCK);
	S.check_pid = pid;
	S.check_fd = p[0];
	S.check_ms = now_ms();
}

// Closes a descriptor of the record's and marks it closed; -1 is none.
static void
close_fd(int *fd)
{
	if (*fd >= 0) {
		(void)close(*fd);
		*fd = -1;
	}
}

// Reads what has arrived of the answer, at most 4095 bytes: after that, or at the end
// of output, the launcher's end of the pipe is closed, and a later write of the
// installer's fails with a broken pipe instead of blocking.
static int
read_check()
{
	int got = 0;
	while (S.check_fd >= 0) {
		size_t room = sizeof S.answer - 1 - S.check_len;
		ssize_t n = read(S.check_fd, S.answer + S.check_len, room);
		if (n < 0 && (errno == EAGAIN || errno == EINTR))
			break;
		if (n > 0) {
			got = 1;
			S.check_len += (size_t)n;
		}
		if (n <= 0 || S.check_len == sizeof S.answer - 1)
			close_fd(&S.check_fd);
	}
	return got;
}

// One turn of the status query: once its output has ended and the installer has
// exited, the answer is judged and the state set; past STATUS_LIMIT_MS the installer
// is killed with its group and the query has failed. Returns non-zero when it read.
int
pump_status()
{
	if (S.check_pid <= 0)
		return 0;
	int got = read_check();
	int end = S.check_fd < 0 ? exited(S.check_pid) : 0;
	if (end == 0 && now_ms() - S.check_ms < STATUS_LIMIT_MS)
		return got;

	close_fd(&S.check_fd);
	int st = 0, ok = 0;
	if (end > 0)
		ok = reap(S.check_pid, &st);
	else if (end == 0)
		(void)finish_child(S.check_pid, now_ms(), 0, &st);  // out of time: killed
	S.check_pid = 0;
	if (ok && WIFEXITED(st) && WEXITSTATUS(st) == 0)
		status_answer(S.answer);
	else
		status_failed();
	return got;
}

// A quit while the check runs: its installer gets CHECK_GRACE_MS after SIGTERM.
void
end_status()
{
	if (S.check_pid <= 0)
		return;
	close_fd(&S.check_fd);
	terminate(S.check_pid);
	int st;
	(void)finish_child(S.check_pid, now_ms(), CHECK_GRACE_MS, &st);
	S.check_pid = 0;
}

// [SECTION] Build run ---------------------------------------------------------------

// The build child's environment: the launcher's own, with BKF_PGROUP and
// PYTHONUNBUFFERED set to "1" in place of any values present. Made before the fork.
static const char *BUILD_ENV[4096];  // room for an environment of 4093 variables
static char BUILD_FAIL[1100];        // "@error cannot run " and the longest g_python

static int
build_env()
{
	constexpr size_t cap = sizeof BUILD_ENV / sizeof BUILD_ENV[0];
	size_t n = 0;
	for (char **e = environ; *e; e++) {
		if (!strncmp(*e, "BKF_PGROUP=", 11) || !strncmp(*e, "PYTHONUNBUFFERED=", 17))
			continue;
		if (n == cap - 3)
			return 0;
		BUILD_ENV[n++] = *e;
	}
	BUILD_ENV[n++] = "BKF_PGROUP=1";
	BUILD_ENV[n++] = "PYTHONUNBUFFERED=1";
	BUILD_ENV[n] = nullptr;
	return 1;
}

static void
build_failed()
{
	S.state = FAILED;
	snprintf(S.msg, sizeof S.msg, "%s", tr("The build could not start."));
}

// The free space a first-time setup needs before anything is started: the setup
// screen promises "about 3 GB", and a full disk is the commonest silent failure.
unsigned long long ROOM_NEEDED = 3000000000ull;

// Bytes as decimal gigabytes with one decimal, rounded down: a refusal never shows
// "3.0 GB free".
void
gb_down(unsigned long long bytes, unsigned long long *whole, unsigned long long *tenths)
{
	unsigned long long t = bytes / 100000000ull;
	*whole = t / 10;
	*tenths = t % 10;
}

// Whether the file system that is to hold the data folder (its nearest existing
// ancestor) has ROOM_NEEDED free. Otherwise the failure screen says how much is needed
// and how much is free where, and 0 is returned. A space that cannot be read passes.
static int
room_for_setup()
{
	char where[PATH_MAX];
	struct statvfs vs;
	if (!nearest(g_home, where, sizeof where) || statvfs(where, &vs) != 0)
		return 1;
	unsigned long long free = (unsigned long long)vs.f_bavail * vs.f_frsize;
	if (free >= ROOM_NEEDED)
		return 1;
	unsigned long long whole, tenths;
	gb_down(free, &whole, &tenths);
	S.state = FAILED;
	// TRANSLATORS: %s is a folder; the two numbers are the free space in gigabytes and
	// its tenths: write the decimal separator of your language between them.
	snprintf(S.msg, sizeof S.msg, tr("Setting up needs about 3 GB of free space; %.300s has "
		"%llu.%llu GB free."), where, whole, tenths);
	return 0;
}

// The log stops at its first failure, and says why: the build goes on without it.
static void
log_lost(const char *why)
{
	close_fd(&S.log);
	if (!S.log_why[0])
		snprintf(S.log_why, sizeof S.log_why, "%.127s", why);
}

// Opens install.log afresh, without blocking on what is there: only a regular file is
// written (a FIFO, a device or a socket counts as a log that could not be opened).
static void
open_log()
{
	char path[1200];
	static_assert(sizeof path > sizeof g_logs + sizeof "/install.log", "room for the log path");
	S.log_why[0] = '\0';
	close_fd(&S.log);
	mkdirs(g_logs);
	snprintf(path, sizeof path, "%s/install.log", g_logs);
	int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
	struct stat st;
	if (fd < 0 && errno != ENXIO) {
		log_lost(strerror(errno));
	} else if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
		if (fd >= 0)
			(void)close(fd);
		// TRANSLATORS: why the log is incomplete, after "The log is incomplete: ".
		log_lost(tr("it is not a regular file"));  // ENXIO: a FIFO without a reader
	} else {
		S.log = fd;
	}
}

// Writes one read of the pipe to the log, whole, or notes why it could not.
static void
write_log(const char *buf, size_t n)
{
	while (S.log >= 0 && n > 0) {
		ssize_t w = write(S.log, buf, n);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0) {
			log_lost(w < 0 ? strerror(errno) : tr("nothing more could be written"));
			return;
		}
		buf += w;
		n -= (size_t)w;
	}
}

// Starts the installer with "--download" behind a non-blocking pipe. It leads a group
// of its own from the first moment, whatever it does with BKF_PGROUP, so that a cancel
// reaches everything it starts. install.log is opened only once the child runs: a
// build that cannot start leaves the last one as it was.
void
start_build()
{
	const char *argv[9];

	// The record tracks one child: while an earlier installer is still recorded (a
	// second activation in one batch, "Try Again" while an errored one winds down),
	// no second one is started.
	if (S.pid > 0)
		return;

	struct stat st;
	if (S.state == FAILED && stat(g_home, &st) != 0)
		S.needs_disc = 1;
	if (S.needs_disc && !room_for_setup())
		return;

	install_argv(argv, "--download");
	if (!build_env()) {
		fputs("launcher: the environment has too many variables for the installer\n", stderr);
		build_failed();
		return;
	}
	snprintf(BUILD_FAIL, sizeof BUILD_FAIL, "@error cannot run %.1023s: ", g_python);

	int p[2];
	if (pipe2(p, O_CLOEXEC) != 0) {
		build_failed();
		return;
	}
	// A pipe of 1 MiB (the most Linux grants unprivileged, 64 KiB by default) holds what
	// a chatty installer writes while a frame is drawn, so it rarely waits on the
	// launcher. Without it the pipe merely stays smaller.
	(void)fcntl(p[0], F_SETPIPE_SZ, 1 << 20);
	Spawn sp = {argv, const_cast<char *const *>(BUILD_ENV), BUILD_FAIL, p[1], p[1], 1, 1};
	pid_t pid = spawn(&sp);
	(void)close(p[1]);
	if (pid < 0) {
		(void)close(p[0]);
		build_failed();
		return;
	}

	open_log();

	(void)fcntl(p[0], F_SETFL, O_NONBLOCK);
	S.pid = pid;
	S.line_len = 0;
	S.fd = p[0];
	snprintf(S.step_label, sizeof S.step_label, "%s", "Starting");
	S.state = WORKING;
	S.cancelled = 0;
	S.stopping = 0;
	S.killed = 0;
	S.lost = 0;
	S.last_line[0] = '\0';
	S.step = 0;
	S.steps = 0;
	S.progress = -1.0;
	S.started_ms = SDL_GetTicks();
}

// Tells the build to end: SIGTERM and SIGCONT to its group now, SIGKILL once
// SHUTDOWN_LIMIT_MS has passed (pump_build). The grace runs from the first stop.
static void
stop_build()
{
	terminate(S.pid);
	if (S.stopping)
		return;
	S.stopping = 1;
	S.killed = 0;
	S.stop_ms = now_ms();
}

void
cancel_build()
{
	if (S.pid <= 0)
		return;
	S.cancelled = 1;
	stop_build();
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

// The message of a build that ended badly without saying why.
static void
stopped_message(int ok, int st)
{
	S.state = FAILED;
	if (!ok)
		snprintf(S.msg, sizeof S.msg, "%s", tr("The build ended, but its result could not "
			"be read. Its log has the details."));
	else if (WIFSIGNALED(st))
		// TRANSLATORS: %d is the number of the signal that ended the installer.
		snprintf(S.msg, sizeof S.msg, tr("The build stopped (signal %d). Its log has the "
			"details."), WTERMSIG(st));
	else
		// TRANSLATORS: %d is the installer's exit status.
		snprintf(S.msg, sizeof S.msg, tr("The build stopped (exit %d). Its log has the "
			"details."), WEXITSTATUS(st));
}

// The output has ended and the installer has exited (or its wait failed, unknown):
// reap it and choose the screen its end leads to. What is left of a stopped build's
// group goes now, while the installer's zombie still holds the group's id.
static void
finish(int unknown)
{
	int st = 0, ok = 0;
	if (!unknown) {
		if (S.stopping)
			signal_group(S.pid, SIGKILL);
		ok = reap(S.pid, &st);
	}
	S.pid = 0;
	S.stopping = 0;
	close_fd(&S.log);
	if (S.cancelled) {
		S.state = S.needs_disc ? SETUP : UPDATE;
		return;
	}
	if (ok && WIFEXITED(st) && WEXITSTATUS(st) == 0 && !S.lost) {
		S.state = READY;
		S.needs_disc = 0;
		return;
	}
	if (S.state != FAILED)
		stopped_message(ok, st);
	// else an "@error " line, or the pipe's failure, said why
	if (S.log_why[0]) {
		// The sentence about the log goes whole; the message before it is cut to make room.
		char note[200], msg[sizeof S.msg];
		// TRANSLATORS: added to a failure's message; %s says why, in the system's words.
		int k = snprintf(note, sizeof note, tr("The log is incomplete: %s."), S.log_why);
		int keep = (int)sizeof msg - 2 - (k > 0 ? k : 0);
		snprintf(msg, sizeof msg, "%.*s %s", keep > 0 ? keep : 0, S.msg, note);
		memcpy(S.msg, msg, sizeof msg);
	}
}

// Reads what the installer has written until the pipe is empty, for at most
// PUMP_LIMIT_MS so that a flood never keeps a frame or an event waiting. Each read
// takes as much as the pipe holds (1 MiB where the kernel grants it) into a static
// buffer, from which the log is written and the lines assembled: no copy in between.
// Returns non-zero when it read output. At the end of output the pipe is closed; a
// read that fails for another reason than "nothing yet" ends the build as a failure.
static int
drain()
{
	static char buf[1 << 20];  // the largest pipe an unprivileged process is granted
	int got = 0;
	Uint32 t0 = now_ms();
	for (;;) {
		ssize_t n = read(S.fd, buf, sizeof buf);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0 && errno == EAGAIN)
			return got;
		if (n < 0) {
			S.state = FAILED;
			// TRANSLATORS: %s is the system's reason, in its own words.
			snprintf(S.msg, sizeof S.msg,
				tr("The build's output could not be read (%s). The build was stopped."),
				strerror(errno));
			S.lost = 1;
			close_fd(&S.fd);
			stop_build();
			return got;
		}
		if (n == 0) {
			close_fd(&S.fd);
			return 1;
		}
		got = 1;
		write_log(buf, (size_t)n);
		feed(buf, (size_t)n);
		if (now_ms() - t0 >= PUMP_LIMIT_MS)
			return 1;
	}
}

// One turn of the build: drain the pipe, carry a stop through its grace, and end the
// run once the output has ended and the installer has exited, not before: a process
// that still holds the pipe keeps the build going, and an installer that closed its
// output but runs on keeps the working screen live. Returns non-zero when it read
// output: the next turn then looks for input without waiting, so the installer never
// waits on a full pipe.
int
pump_build()
{
	if (S.pid <= 0)
		return 0;
	int got = S.fd >= 0 ? drain() : 0;
	if (S.stopping) {
		Uint32 t = now_ms() - S.stop_ms;
		if (!S.killed && t >= SHUTDOWN_LIMIT_MS) {
			signal_group(S.pid, SIGKILL);
			S.killed = 1;
		}
		// A pipe still held after the SIGKILL belongs to a process that left the group:
		// the launcher lets it go.
		if (S.killed && S.fd >= 0 && t >= SHUTDOWN_LIMIT_MS + KILL_WAIT_MS)
			close_fd(&S.fd);
	}
	if (S.fd < 0) {
		int end = exited(S.pid);
		if (end != 0)
			finish(end < 0);
	}
	return got;
}

// At the end of the run: a check or a build still running is ended. The build's pipe
// is closed first, so that the wait never depends on what it still has to say; its
// installer gets what is left of its grace (a full one unless it was told to stop
// before), then its group is killed and it is reaped.
void
end_build()
{
	end_status();
	if (S.fd >= 0)
		close_fd(&S.fd);
	if (S.pid > 0) {
		int st;
		Uint32 t0 = S.stopping ? S.stop_ms : now_ms();
		(void)finish_child(S.pid, t0, SHUTDOWN_LIMIT_MS, &st);
		S.pid = 0;
		S.stopping = 0;
	}
	close_fd(&S.log);
}
