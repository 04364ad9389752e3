// launcher.cpp: the launcher's entry point. main() chooses the language, starts SDL,
// opens the window and the fonts, then either renders one screen into a BMP (screenshot
// mode) or begins: resolves the directories, claims the data folder, asks the installer
// for the game's status, and runs the event loop until quit.
// To understand everything else, start reading main() at the bottom of this file.
//
// Sections: Globals, State and paths, The claim on the data folder, Child processes,
// Actions and input, Fullscreen, Frames, Event loop, Screenshot mode, The canvas,
// Start-up and shutdown.

#include "launcher.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// [SECTION] Globals -----------------------------------------------------------------

State S = {CHECKING, {}, {}, 0, 0, -1.0, {}, 0, 0, -1, {}, 0, -1, 0, 0, 0, 0, 0, 0, {}, 0, 0,
	-1, 0, 0, {}};
char g_share[1024];
char g_python[1024];
char g_home[1024];
char g_logs[1100];
SDL_Window *WIN;
SDL_Renderer *R;
int REPAINT = 1;

// [SECTION] State and paths ---------------------------------------------------------

void
reset_state()
{
	memset(&S, 0, sizeof S);
	S.progress = -1.0;
	S.fd = -1;
	S.log = -1;
	S.check_fd = -1;
}

const char *
env_or(const char *name, const char *fallback)
{
	const char *v = getenv(name);
	return v && *v ? v : fallback;
}

// A failure screen that is no build's: titled plainly, and its "Try Again" begins the
// launcher's start again (begin). Returns 0.
static int refuse(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

static int
refuse(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vsnprintf(S.msg, sizeof S.msg, fmt, ap);
	va_end(ap);
	S.state = FAILED;
	S.blocked = 1;
	return 0;
}

// The four directory strings from the environment. A path from outside that does not
// fit its buffer is refused, never cut: a cut on a "/" names another folder, and a cut
// interpreter path another program. Without HOME the home folder is the user's own
// from the system's user database, never the current directory. Returns 0, with the
// refused strings left empty and the failure screen set, when one cannot be had.
int
resolve_dirs()
{
	static_assert(sizeof g_logs >= sizeof g_home + sizeof "/logs", "g_logs holds g_home");
	g_share[0] = g_python[0] = g_home[0] = g_logs[0] = '\0';

	const char *home = getenv("BKF_HOME");
	const char *xdg = getenv("XDG_DATA_HOME");
	const char *base, *tail;
	if (home && *home) {
		base = home;
		tail = "";
	} else if (xdg && *xdg) {
		base = xdg;
		tail = "/brackenfold";
	} else {
		base = env_or("HOME", nullptr);
		tail = "/.local/share/brackenfold";
		static char strings[16384];  // the entry's texts; more than any real entry holds
		struct passwd pw, *found = nullptr;
		if (!base && getpwuid_r(getuid(), &pw, strings, sizeof strings, &found) == 0 &&
			found && pw.pw_dir && pw.pw_dir[0] == '/')
			base = pw.pw_dir;
		if (!base)
			// TRANSLATORS: HOME and BKF_HOME are names of settings: keep them as they are.
			return refuse("%s", tr("No home folder was found: HOME is not set, and the "
				"system has none for this user. Set HOME or BKF_HOME."));
	}
	size_t n = strlen(base) + strlen(tail);
	if (n >= sizeof g_home)
		// TRANSLATORS: BKF_HOME is the name of a setting: keep it as it is.
		return refuse(tr("The path of the data folder is too long: %zu bytes, where the "
			"limit is %zu. Set BKF_HOME to a shorter one."), n, sizeof g_home - 1);
	snprintf(g_home, sizeof g_home, "%s%s", base, tail);
	snprintf(g_logs, sizeof g_logs, "%s/logs", g_home);

	const char *share = env_or("BKF_SHARE", "/app/share/brackenfold");
	if (strlen(share) >= sizeof g_share)
		return refuse(tr("The path of the app's files (BKF_SHARE) is too long: %zu bytes, "
			"where the limit is %zu."), strlen(share), sizeof g_share - 1);
	snprintf(g_share, sizeof g_share, "%s", share);

	const char *python = env_or("BKF_PYTHON", "/app/venv/bin/python3");
	if (strlen(python) >= sizeof g_python)
		return refuse(tr("The path of the Python interpreter (BKF_PYTHON) is too long: %zu "
			"bytes, where the limit is %zu."), strlen(python), sizeof g_python - 1);
	snprintf(g_python, sizeof g_python, "%s", python);
	return 1;
}

// Makes the directory and every missing parent; every error, an existing one included,
// is ignored: a log that then cannot be opened is the only consequence. A path longer
// than PATH_MAX makes nothing.
void
mkdirs(const char *path)
{
	char p[PATH_MAX];
	int n = snprintf(p, sizeof p, "%s", path);
	if (n <= 0 || (size_t)n >= sizeof p)
		return;
	for (char *c = p + 1; *c; c++) {
		if (*c != '/')
			continue;
		*c = '\0';
		(void)mkdir(p, 0755);
		*c = '/';
	}
	(void)mkdir(p, 0755);
}

// The nearest ancestor of path that exists, path itself included, as it is spelled:
// "." for a relative path none of whose parts exists. Returns 0 when it does not fit.
int
nearest(const char *path, char *out, size_t size)
{
	int n = snprintf(out, size, "%s", path);
	if (n <= 0 || (size_t)n >= size)
		return 0;
	struct stat st;
	while (stat(out, &st) != 0) {
		char *slash = strrchr(out, '/');
		if (!slash) {
			snprintf(out, size, "%s", ".");
			return 1;
		}
		while (slash > out && slash[-1] == '/')
			slash--;  // "a//b": the parent is "a"
		slash[slash == out] = '\0';  // the parent of "/x" is "/"
	}
	return 1;
}

// [SECTION] The claim on the data folder --------------------------------------------

// One launcher per data folder: the claim is an exclusive flock() on a lock file that
// the kernel releases when the launcher ends, however it ends. It lives beside the
// data folder (its parent gets ".<name>.lock"), named from the real path of the
// folder's nearest existing ancestor and the rest of its path, so that a symlink or a
// relative spelling of the same folder finds the same claim; the folder itself is never
// made for it. Where the parent cannot hold it, the lock goes to $XDG_RUNTIME_DIR (or
// /tmp) under a name made from the same path.
static int CLAIM = -1;  // the lock's descriptor, held for the whole run

// The absolute path that names path however it is spelled: the real path of its
// nearest existing ancestor, then the rest, with "." and ".." taken as written.
int
canonical(const char *path, char *out, size_t size)
{
	char p[PATH_MAX], real[PATH_MAX], cwd[PATH_MAX];
	int n;
	if (path[0] == '/')
		n = snprintf(p, sizeof p, "%s", path);
	else if (getcwd(cwd, sizeof cwd))
		n = snprintf(p, sizeof p, "%s/%s", cwd, path);
	else
		return 0;
	if (n <= 0 || (size_t)n >= sizeof p)
		return 0;

	size_t cut = (size_t)n;
	for (;;) {
		char keep = p[cut];
		p[cut] = '\0';
		int found = realpath(cut ? p : "/", real) != nullptr;
		p[cut] = keep;
		if (found)
			break;
		if (cut == 0)
			return 0;
		do
			cut--;
		while (cut > 0 && p[cut] != '/');
	}
	n = snprintf(out, size, "%s", real);
	if (n <= 0 || (size_t)n >= size)
		return 0;
	size_t len = (size_t)n;
	for (char *c = p + cut; *c;) {
		while (*c == '/')
			c++;
		char *e = c;
		while (*e && *e != '/')
			e++;
		size_t k = (size_t)(e - c);
		if (k == 2 && c[0] == '.' && c[1] == '.') {
			while (len > 1 && out[len - 1] != '/')
				len--;
			if (len > 1)
				len--;
			out[len] = '\0';
		} else if (k > 0 && !(k == 1 && c[0] == '.')) {
			if (len + (len > 1) + k >= size)
				return 0;
			if (len > 1)
				out[len++] = '/';
			memcpy(out + len, c, k);
			len += k;
			out[len] = '\0';
		}
		c = e;
	}
	return 1;
}

// The lock file of the data folder home: which 0 beside it, 1 in the runtime folder.
int
claim_path(const char *home, int which, char *out, size_t size)
{
	char real[PATH_MAX];
	if (!canonical(home, real, sizeof real))
		return 0;
	int n;
	if (which == 0) {
		char *slash = strrchr(real, '/');
		if (!slash || !slash[1])
			return 0;  // the root itself has no side to lie beside
		*slash = '\0';
		n = snprintf(out, size, "%s/.%s.lock", real[0] ? real : "", slash + 1);
	} else {
		unsigned long long h = 14695981039346656037ull;  // FNV-1a of the path
		for (const char *c = real; *c; c++)
			h = (h ^ (unsigned char)*c) * 1099511628211ull;
		const char *run = getenv("XDG_RUNTIME_DIR");
		struct stat st;
		if (run && run[0] == '/' && stat(run, &st) == 0 && S_ISDIR(st.st_mode))
			n = snprintf(out, size, "%s/brackenfold-%016llx.lock", run, h);
		else
			n = snprintf(out, size, "/tmp/brackenfold-%u-%016llx.lock", (unsigned)getuid(), h);
	}
	return n > 0 && (size_t)n < size;
}

// Opens and locks one lock file: 1 claimed, 0 held by another launcher, -1 the file
// cannot serve (no room for it, not a regular file of this user's).
static int
lock(const char *path)
{
	char dir[PATH_MAX];
	snprintf(dir, sizeof dir, "%s", path);
	char *slash = strrchr(dir, '/');
	if (slash && slash != dir) {
		*slash = '\0';
		mkdirs(dir);  // the parents of the data folder, never the folder itself
	}
	int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
	if (fd < 0)
		return -1;
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
		(void)close(fd);
		return -1;
	}
	if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
		int e = errno;
		(void)close(fd);
		return e == EWOULDBLOCK ? 0 : -1;
	}
	CLAIM = fd;
	return 1;
}

// Claims the data folder for the whole run. Returns 0, with the failure screen set,
// when another launcher holds it; a claim that cannot be made at all (no writable
// place for a lock) lets the launcher go on, with a warning.
int
claim()
{
	if (CLAIM >= 0)
		return 1;
	char path[PATH_MAX];
	for (int which = 0; which < 2; which++) {
		if (!claim_path(g_home, which, path, sizeof path))
			continue;
		int r = lock(path);
		if (r == 1)
			return 1;
		if (r == 0)
			// TRANSLATORS: "Try Again" is the button of that screen: write its translation.
			return refuse("%s", tr("Brackenfold is already open in another window. Use "
				"that one, or close it and press Try Again."));
	}
	fprintf(stderr, "launcher: no lock can be made for %s; another launcher on it would "
		"not be noticed\n", g_home);
	return 1;
}

// The launcher's start, and what "Try Again" on a failure screen that is no build's
// does: paths that fit, a home, the claim on the data folder, then the status query.
void
begin()
{
	S.blocked = 0;
	if (!resolve_dirs() || !claim())
		return;
	S.state = CHECKING;
	start_status();
}

// [SECTION] Child processes ---------------------------------------------------------

// The texts of the error numbers and the highest descriptor a child may have to close,
// both read before every fork: strerror and getrlimit are not for a forked child.
static const char *ERRNO_TEXT[256];
static long FD_TOP;

static void
before_fork()
{
	static int known;
	if (!known) {
		for (int e = 0; e < (int)(sizeof ERRNO_TEXT / sizeof ERRNO_TEXT[0]); e++)
			ERRNO_TEXT[e] = strerrordesc_np(e);
		known = 1;
	}
	struct rlimit rl;
	FD_TOP = 65536;
	if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY &&
		(long)rl.rlim_cur < FD_TOP)
		FD_TOP = (long)rl.rlim_cur;
}

// Writes a whole buffer from a forked child; a failure changes nothing.
static void
put(int fd, const char *s)
{
	size_t n = strlen(s);
	while (n > 0) {
		ssize_t w = write(fd, s, n);
		if (w <= 0)
			return;
		s += w;
		n -= (size_t)w;
	}
}

// The forked child: only async-signal-safe calls up to execve and _exit. No descriptor
// of the launcher's own (fonts, logs, pipe ends, the display connection) reaches the
// program run; SIGTERM, which the media library handles, is back to its default and
// no signal is blocked.
[[noreturn]] static void
child(const Spawn *sp, pid_t parent, const sigset_t *none)
{
	struct sigaction dfl = {};
	dfl.sa_handler = SIG_DFL;
	(void)sigaction(SIGTERM, &dfl, nullptr);
	(void)sigaction(SIGINT, &dfl, nullptr);
	(void)sigprocmask(SIG_SETMASK, none, nullptr);
	if (sp->group)
		(void)setpgid(0, 0);
	if (sp->orphan && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent))
		_exit(127);
	if (sp->out >= 0)
		(void)dup2(sp->out, 1);
	if (sp->err >= 0)
		(void)dup2(sp->err, 2);
	if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
		for (long fd = 3; fd < FD_TOP; fd++)
			(void)close((int)fd);
	execve(sp->argv[0], const_cast<char *const *>(sp->argv), sp->envp);
	int e = errno;
	if (sp->fail) {
		const char *why = e >= 0 && e < (int)(sizeof ERRNO_TEXT / sizeof ERRNO_TEXT[0]) &&
			ERRNO_TEXT[e] ? ERRNO_TEXT[e] : "Unknown error";
		put(2, sp->fail);
		put(2, why);
		put(2, "\n");
	}
	_exit(127);
}

// Starts a child; returns its process id, or -1. A child of its own group is made the
// leader here as well as in the child, so that the group exists before any signal can
// be sent to it.
pid_t
spawn(const Spawn *sp)
{
	before_fork();
	// SIGTERM is held across the fork: until the child has its default back, the media
	// library's handler would swallow a cancel that comes this early.
	sigset_t term, mask, none;
	(void)sigemptyset(&term);
	(void)sigaddset(&term, SIGTERM);
	(void)sigemptyset(&none);
	(void)sigprocmask(SIG_BLOCK, &term, &mask);
	pid_t parent = getpid();
	pid_t pid = fork();
	if (pid == 0)
		child(sp, parent, &none);
	if (pid > 0 && sp->group)
		(void)setpgid(pid, pid);  // EACCES once the child has run execve: it did it itself
	(void)sigprocmask(SIG_SETMASK, &mask, nullptr);
	return pid;
}

// Whether the child has ended, without reaping it: 1 ended, 0 not yet, -1 the wait
// failed. The zombie keeps the process id and its group's id reserved until reap().
int
exited(pid_t pid)
{
	for (;;) {
		siginfo_t si = {};
		if (waitid(P_PID, (id_t)pid, &si, WEXITED | WNOHANG | WNOWAIT) == 0)
			return si.si_pid == pid;
		if (errno != EINTR)
			return -1;
	}
}

// Reaps the child, waiting for it; 1 with its wait status in *status, 0 when the wait
// failed (never to be taken for a normal end).
int
reap(pid_t pid, int *status)
{
	for (;;) {
		*status = 0;
		if (waitpid(pid, status, 0) == pid)
			return 1;
		if (errno != EINTR)
			return 0;
	}
}

// [SECTION] Actions and input -------------------------------------------------------

int
act(unsigned action, int argc, char **argv)
{
	switch (action) {
	case ACT_PLAY:
		return !play(WIN, argc, argv);
	case ACT_RETRY:
		if (S.blocked) {
			begin();
			return 0;
		}
		start_build();
		return 0;
	case ACT_BUILD:
		start_build();
		return 0;
	case ACT_CANCEL:
		cancel_build();
		return 0;
	case ACT_QUIT:
		return 1;
	default:
		return 0;
	}
}

static void
focus_next()
{
	if (FOCUS < NB - 1)
		FOCUS++;
}

static void
focus_prev()
{
	if (FOCUS > 0)
		FOCUS--;
}

static int
activate(int argc, char **argv)
{
	if (FOCUS < 0 || FOCUS >= NB)
		return 0;
	return act((unsigned)B[FOCUS].action, argc, argv);
}

// A held key repeats: the repeats move the focus like presses, but never activate,
// cancel or quit, so that holding Return starts one build and holding Escape cancels
// it without ending the launcher. F11 and Alt+Return switch the window between
// fullscreen and windowed.
static int
key(const SDL_KeyboardEvent *k, int argc, char **argv)
{
	int again = k->repeat != 0;
	switch (k->keysym.sym) {
	case SDLK_TAB:
	case SDLK_RIGHT:
	case SDLK_DOWN:
		focus_next();
		return 0;
	case SDLK_LEFT:
	case SDLK_UP:
		focus_prev();
		return 0;
	case SDLK_RETURN:
		if (k->keysym.mod & KMOD_ALT) {
			if (!again)
				toggle_fullscreen();
			return 0;
		}
		return again ? 0 : activate(argc, argv);
	case SDLK_F11:
		if (!again)
			toggle_fullscreen();
		return 0;
	case SDLK_SPACE:
	case SDLK_KP_ENTER:
		return again ? 0 : activate(argc, argv);
	case SDLK_ESCAPE:
		if (again)
			return 0;
		if (S.state != WORKING)
			return 1;
		cancel_build();
		return 0;
	default:
		return 0;
	}
}

static int
pad(Uint8 button, int argc, char **argv)
{
	switch (button) {
	case SDL_CONTROLLER_BUTTON_A:
	case SDL_CONTROLLER_BUTTON_START:
		return activate(argc, argv);
	case SDL_CONTROLLER_BUTTON_B:
		if (S.state == WORKING)
			cancel_build();
		return 0;
	case SDL_CONTROLLER_BUTTON_DPAD_UP:
	case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
		focus_prev();
		return 0;
	case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
	case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
		focus_next();
		return 0;
	default:
		return 0;
	}
}

// Handles one event; returns non-zero when the launcher is to end after this turn.
int
handle_event(const SDL_Event *e, int argc, char **argv)
{
	int i;

	switch (e->type) {
	case SDL_QUIT:
		if (S.state == WORKING)
			cancel_build();
		return 1;
	case SDL_KEYDOWN:
		return key(&e->key, argc, argv);
	case SDL_MOUSEMOTION:
		// Only the player's motion chooses. The motion that comes with the window
		// appearing, resizing or going fullscreen under a pointer at rest moves nothing:
		// its relative motion is none.
		if (e->motion.xrel == 0 && e->motion.yrel == 0)
			return 0;
		i = hit(e->motion.x, e->motion.y);
		if (i >= 0)
			FOCUS = i;
		return 0;
	case SDL_MOUSEBUTTONUP:
		if (e->button.button != SDL_BUTTON_LEFT)
			return 0;
		i = hit(e->button.x, e->button.y);
		if (i < 0)
			return 0;
		FOCUS = i;
		return act((unsigned)B[i].action, argc, argv);
	case SDL_CONTROLLERBUTTONDOWN:
		return pad(e->cbutton.button, argc, argv);
	case SDL_CONTROLLERDEVICEADDED:
		// The handle is kept open for the whole run, and never closed.
		(void)SDL_GameControllerOpen(e->cdevice.which);
		return 0;
	case SDL_WINDOWEVENT:
		switch (e->window.event) {
		case SDL_WINDOWEVENT_EXPOSED:
		case SDL_WINDOWEVENT_SHOWN:
		case SDL_WINDOWEVENT_RESTORED:
		case SDL_WINDOWEVENT_MAXIMIZED:
		case SDL_WINDOWEVENT_SIZE_CHANGED:
		case SDL_WINDOWEVENT_DISPLAY_CHANGED:
			REPAINT = 1;
			break;
		default:
			break;
		}
		return 0;
	case SDL_RENDER_TARGETS_RESET:
	case SDL_RENDER_DEVICE_RESET:
		REPAINT = 1;
		return 0;
	default:
		return 0;
	}
}

// [SECTION] Fullscreen --------------------------------------------------------------

// Whether the window starts fullscreen: BKF_FULLSCREEN=1 (or 0 for a window), else
// under a game-mode compositor, which shows one program at a time.
int
want_fullscreen()
{
	const char *v = env_or("BKF_FULLSCREEN", nullptr);
	if (v && (!strcmp(v, "1") || !strcmp(v, "0")))
		return v[0] == '1';
	if (v)
		fprintf(stderr, "launcher: BKF_FULLSCREEN \"%s\" is not 1 or 0; ignored\n", v);
	const char *desk = env_or("XDG_CURRENT_DESKTOP", "");
	for (const char *p = desk; *p;) {
		size_t n = strcspn(p, ":");
		if (n == 9 && !strncasecmp(p, "gamescope", 9))
			return 1;
		p += n + (p[n] == ':');
	}
	return 0;
}

// Back from fullscreen the window gets the size it had before. A window manager does
// that itself; without one SDL would go on believing the window as large as the screen.
void
toggle_fullscreen()
{
	static int w = 960, h = 600;  // the window's size before it went fullscreen
	if (SDL_GetWindowFlags(WIN) & SDL_WINDOW_FULLSCREEN) {
		(void)SDL_SetWindowFullscreen(WIN, 0);
		SDL_SetWindowSize(WIN, w, h);
	} else {
		SDL_GetWindowSize(WIN, &w, &h);
		(void)SDL_SetWindowFullscreen(WIN, SDL_WINDOW_FULLSCREEN_DESKTOP);
	}
	REPAINT = 1;
}

// [SECTION] Frames ------------------------------------------------------------------

// Everything a frame shows, drawn from the state record and the clock. A turn whose
// picture is that of the last frame neither paints nor presents; one that paints still
// paints the whole canvas.
struct Shown {
	int32_t state, focus, nb, needs_disc, blocked, step, steps, fill, sweep_from, sweep_to;
	Uint32 clock_s;
	char step_label[sizeof S.step_label], last_line[sizeof S.last_line], msg[sizeof S.msg];
};
static Shown LAST;

static void
shown(Shown *v)
{
	memset(v, 0, sizeof *v);
	v->state = S.state;
	v->focus = FOCUS;
	v->nb = NB;
	v->needs_disc = S.needs_disc;
	v->blocked = S.blocked;
	if (S.state == WORKING) {
		v->step = S.step;
		v->steps = S.steps;
		v->clock_s = (SDL_GetTicks() - S.started_ms) / 1000;
		if (S.progress >= 0)
			v->fill = fill_width(S.progress);
		else
			sweep(SDL_GetTicks(), &v->sweep_from, &v->sweep_to);
		memcpy(v->step_label, S.step_label, sizeof v->step_label);
		memcpy(v->last_line, S.last_line, sizeof v->last_line);
	}
	if (S.state == FAILED || S.state == CRASHED)
		memcpy(v->msg, S.msg, sizeof v->msg);
}

// Whether this turn's picture differs from the last frame's, or the window lost it.
int
frame_needed()
{
	Shown v;
	shown(&v);
	return REPAINT || memcmp(&v, &LAST, sizeof v) != 0;
}

// Remembers what the frame just drawn shows (the focus as the bar clamped it).
void
frame_drawn()
{
	shown(&LAST);
	REPAINT = 0;
}

// [SECTION] Event loop --------------------------------------------------------------

static constexpr Uint32 FLOW_MS = 100;       // output this recent: more is on its way
static constexpr int FLOW_WAIT_MS = 10;      // then a turn waits on the pipe at most this
static constexpr Uint32 FLOW_FRAME_MS = 33;  // and frames come at most this often

// Waits for the turn's first event. While the installer's output flows, the wait is on
// the pipe, briefly, so that the installer never waits on a full pipe while the loop
// sleeps; otherwise on events, for at most 50 ms while a check or a build runs and
// 250 ms else.
static int
wait_event(SDL_Event *e, int flowing)
{
	if (flowing) {
		struct pollfd p = {S.fd, POLLIN, 0};
		(void)poll(&p, 1, FLOW_WAIT_MS);
		return SDL_PollEvent(e);
	}
	return SDL_WaitEventTimeout(e, S.state == WORKING || S.state == CHECKING ? 50 : 250);
}

void
loop(int argc, char **argv)
{
	Uint32 output_ms = 0, frame_ms = 0;
	int flowing = 0;

	for (int quit = 0; !quit;) {
		SDL_Event e;
		if (wait_event(&e, flowing)) {
			quit = handle_event(&e, argc, argv);
			while (!quit && SDL_PollEvent(&e))
				quit = handle_event(&e, argc, argv);
		}
		int before = S.state;
		int got = pump_status();
		got |= pump_build();
		if (S.state != before)
			FOCUS = NO_FOCUS;
		Uint32 now = SDL_GetTicks();
		if (got && S.fd >= 0)
			output_ms = now;
		flowing = S.fd >= 0 && now - output_ms < FLOW_MS;
		// A flood of output is shown at a bounded rate; the last picture of it comes
		// once the flow stops.
		if (frame_needed() && (!flowing || now - frame_ms >= FLOW_FRAME_MS)) {
			fit_text();
			draw();
			SDL_RenderPresent(R);
			frame_drawn();
			frame_ms = now;
		}
	}
}

// [SECTION] Screenshot mode ---------------------------------------------------------

void
sample(const char *word)
{
	S.needs_disc = 1;
	if (!strcmp(word, "setup")) {
		S.state = SETUP;
	} else if (!strcmp(word, "update")) {
		S.state = UPDATE;
		S.needs_disc = 0;
	} else if (!strcmp(word, "working")) {
		S.state = WORKING;
		S.step = 7;
		S.steps = 7;
		S.progress = 0.42;
		snprintf(S.step_label, sizeof S.step_label, "%s", "Compiling");
		S.started_ms = SDL_GetTicks() - 754000u;
		snprintf(S.last_line, sizeof S.last_line, "%s",
			"[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o");
	} else if (!strcmp(word, "failed")) {
		S.state = FAILED;
		snprintf(S.msg, sizeof S.msg, "%s",
			"The disc image did not download: the server could not be reached.");
	} else if (!strcmp(word, "crashed")) {
		S.state = CRASHED;
		snprintf(S.msg, sizeof S.msg, "%s", tr("The game stopped unexpectedly."));
	} else {
		S.state = READY;
	}
}

// BKF_LAUNCHER_SCALE: a screenshot at an integer scale, 1 to 4, as a window of that
// many times 960x600 shows it. Anything else is 1, with a warning.
int
shot_scale(const char *value)
{
	if (!value)
		return 1;
	if (value[0] >= '1' && value[0] <= '4' && !value[1])
		return value[0] - '0';
	fprintf(stderr, "launcher: BKF_LAUNCHER_SCALE \"%s\" is not 1, 2, 3 or 4; 1 is taken\n",
		value);
	return 1;
}

static void
le(unsigned char *p, Uint32 v, int bytes)
{
	for (int i = 0; i < bytes; i++)
		p[i] = (unsigned char)(v >> (8 * i));
}

// Writes the picture as a 32-bit BMP in one pass from front to back, so that the path
// may name a pipe (or /dev/stdout), which cannot seek back to fill in a header. The
// rows go bottom up; ARGB8888 words lie in memory as the B, G, R, A bytes BMP wants.
static int
write_bmp(FILE *f, const SDL_Surface *s)
{
	Uint32 row = (Uint32)s->w * 4, size = row * (Uint32)s->h;
	unsigned char head[54] = {'B', 'M'};
	le(head + 2, 54 + size, 4);    // file size
	le(head + 10, 54, 4);          // where the pixels start
	le(head + 14, 40, 4);          // the info header's size
	le(head + 18, (Uint32)s->w, 4);
	le(head + 22, (Uint32)s->h, 4);
	le(head + 26, 1, 2);           // planes
	le(head + 28, 32, 2);          // bits a pixel; no compression
	le(head + 34, size, 4);
	le(head + 38, 2835, 4);        // 72 dots an inch, in dots a metre
	le(head + 42, 2835, 4);
	int ok = fwrite(head, 1, sizeof head, f) == sizeof head;
	for (int y = s->h - 1; ok && y >= 0; y--)
		ok = fwrite(static_cast<const char *>(s->pixels) + (size_t)y * (size_t)s->pitch, 1, row,
			f) == row;
	return ok;
}

// Renders the chosen screen into the BMP at path. Returns the exit status. A file that
// could not be written completely is removed, so that a failed run leaves nothing.
int
screenshot(const char *path)
{
	sample(env_or("BKF_LAUNCHER_STATE", ""));
	FOCUS = NO_FOCUS;
	fit_text();
	draw();

	int w = 960, h = 600;
	(void)SDL_GetRendererOutputSize(R, &w, &h);
	SDL_Surface *s = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
	if (!s) {
		fprintf(stderr, "launcher: %s\n", SDL_GetError());
		return 1;
	}
	if (SDL_RenderReadPixels(R, nullptr, SDL_PIXELFORMAT_ARGB8888, s->pixels, s->pitch) != 0) {
		fprintf(stderr, "launcher: %s\n", SDL_GetError());
		SDL_FreeSurface(s);
		return 1;
	}
	FILE *out = fopen(path, "wb");
	if (!out) {
		fprintf(stderr, "launcher: cannot write %s: %s\n", path, strerror(errno));
		SDL_FreeSurface(s);
		return 1;
	}
	// A write that fails only when the stream is flushed at its close must not pass for
	// a saved picture.
	int ok = write_bmp(out, s);
	ok = fclose(out) == 0 && ok;
	SDL_FreeSurface(s);
	if (!ok) {
		fprintf(stderr, "launcher: cannot write %s\n", path);
		// Only the partial picture goes: a device such as /dev/full, or a link that
		// led to it, is not the run's to delete.
		struct stat st;
		if (lstat(path, &st) == 0 && S_ISREG(st.st_mode))
			(void)remove(path);
		return 1;
	}
	return 0;
}

// [SECTION] The canvas ---------------------------------------------------------------

// Opens SDL as a screenshot run draws: no display needed (SDL's dummy video driver
// unless SDL_VIDEODRIVER names another), a hidden window of scale times 960x600, the
// software renderer with the logical size 960x600 and alpha blending, and the four
// fonts. The same pixels as a window of that size on the software renderer. Returns 0,
// with SDL's error, when it cannot; tests, the benchmarks and the render tool draw on
// it too.
int
canvas(int scale)
{
	if (!env_or("SDL_VIDEODRIVER", nullptr))
		(void)SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "dummy", SDL_HINT_OVERRIDE);
	if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER) != 0 || TTF_Init() != 0)
		return 0;
	WIN = SDL_CreateWindow("Brackenfold", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
		960 * scale, 600 * scale,
		SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN);
	if (!WIN)
		return 0;
	R = SDL_CreateRenderer(WIN, -1, SDL_RENDERER_SOFTWARE);
	if (!R)
		return 0;
	(void)SDL_RenderSetLogicalSize(R, 960, 600);
	(void)SDL_SetRenderDrawBlendMode(R, SDL_BLENDMODE_BLEND);
	load_fonts();
	return 1;
}

// [SECTION] Start-up and shutdown ---------------------------------------------------

#ifndef BKF_NO_MAIN
#ifdef BKF_ICON
#include "icon.h"  // ICON: the 64x64 icon's pixels, RGBA bytes, made from data/icons/64
#endif

// The window's icon for desktops that draw one from the window (X11 docks and
// switchers); Wayland's come from the desktop entry the app id names.
static void
set_icon()
{
#ifdef BKF_ICON
	SDL_Surface *s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<unsigned char *>(ICON), 64, 64,
		32, 64 * 4,
		SDL_PIXELFORMAT_RGBA32);
	if (!s)
		return;  // a window without an icon is still the launcher
	SDL_SetWindowIcon(WIN, s);
	SDL_FreeSurface(s);
#endif
}

// Standard input, output or error that the launcher was started without get /dev/null
// in their place before anything is opened: otherwise the display connection, a font
// or install.log would take their numbers, "launcher: " lines would go into it, and a
// child would get it as its standard input.
static void
open_std_fds()
{
	for (int fd = 0; fd <= 2; fd++)
		if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd)
			return;
}

static int
fail()
{
	fprintf(stderr, "launcher: %s\n", SDL_GetError());
	return 1;
}

int
main(int argc, char **argv)
{
	open_std_fds();
	(void)signal(SIGPIPE, SIG_IGN);
	// Inherited across exec: ignored, it would let the kernel reap every child before
	// the launcher could read how it ended.
	(void)signal(SIGCHLD, SIG_DFL);
	(void)choose_language();
	const char *limits = env_or("BKF_LIMITS", nullptr);
	if (limits && !read_limits(limits))
		fprintf(stderr, "launcher: BKF_LIMITS \"%s\" is not \"status=S,grace=S\"; "
			"ignored\n", limits);

	(void)SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");

	// A screenshot needs no display: the canvas is SDL's dummy driver unless told otherwise.
	const char *shot = getenv("BKF_LAUNCHER_SHOT");
	if (shot) {
		if (!canvas(shot_scale(env_or("BKF_LAUNCHER_SCALE", nullptr))))
			return fail();
		(void)resolve_dirs();  // the logs line of the failure screens
		return screenshot(shot);
	}

	// X11 where both it and Wayland are there: SDL 2.26's Wayland backend dies when a
	// seat or a keyboard appears after the start.
	if (!env_or("SDL_VIDEODRIVER", nullptr) && env_or("DISPLAY", nullptr) &&
		env_or("WAYLAND_DISPLAY", nullptr))
		(void)SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_DEFAULT);
	// The window's X11 class and Wayland app id name the desktop entry. SDL reads them
	// from the environment as it starts, and the game must not inherit them.
	static const char *const CLASS[] = {"SDL_VIDEO_X11_WMCLASS", "SDL_VIDEO_WAYLAND_WMCLASS"};
	int ours[2] = {0, 0};
	for (int i = 0; i < 2; i++)
		if (!getenv(CLASS[i]))
			ours[i] = setenv(CLASS[i], APP_ID, 1) == 0;
	int up = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER) == 0 && TTF_Init() == 0;
	for (int i = 0; i < 2; i++)
		if (ours[i])
			(void)unsetenv(CLASS[i]);
	if (!up)
		return fail();
	// On X11 the software renderer draws straight onto the window's surface: GL only to
	// present a picture drawn in software costs some 90 MiB and five threads. Wayland's
	// backend has no surface of its own, so there the accelerated renderer stays. The
	// player's own SDL_RENDER_DRIVER or SDL_FRAMEBUFFER_ACCELERATION wins.
	const char *driver = SDL_GetCurrentVideoDriver();
	if (driver && !strcmp(driver, "x11")) {
		(void)SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
		(void)SDL_SetHintWithPriority(SDL_HINT_RENDER_DRIVER, "software", SDL_HINT_DEFAULT);
	}
	Uint32 flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
	if (want_fullscreen())
		flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
	WIN = SDL_CreateWindow("Brackenfold", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
		960, 600, flags);
	if (!WIN)
		return fail();
	R = SDL_CreateRenderer(WIN, -1, SDL_RENDERER_PRESENTVSYNC);
	if (!R)
		R = SDL_CreateRenderer(WIN, -1, SDL_RENDERER_SOFTWARE);
	if (!R)
		return fail();
	set_icon();  // after the renderer, which may have made the window anew
	(void)SDL_RenderSetLogicalSize(R, 960, 600);
	(void)SDL_SetRenderDrawBlendMode(R, SDL_BLENDMODE_BLEND);
	load_fonts();

	begin();
	fit_text();
	draw();
	SDL_RenderPresent(R);
	FOCUS = NO_FOCUS;  // the first real screen focuses its rightmost button
	REPAINT = 1;
	loop(argc, argv);

	end_build();
	TTF_Quit();
	SDL_Quit();
	return 0;
}
#endif
