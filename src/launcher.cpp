// launcher.cpp: the launcher's entry point. main() resolves the directories, starts SDL,
// opens the window and the fonts, then either renders one screen into a BMP (screenshot
// mode) or asks the installer for the game's status and runs the event loop until quit.
// To understand everything else, start reading main() at the bottom of this file.

#include "launcher.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// [SECTION] Globals -----------------------------------------------------------------

State S = {CHECKING, {}, {}, 0, 0, -1.0, {}, 0, 0, -1, {}, 0, nullptr, 0, 0, 0, 0, 0, 0, 0,
	-1, 0, 0, {}};
char g_share[1024];
char g_python[1024];
char g_home[1024];
char g_logs[1100];
SDL_Window *WIN;
SDL_Renderer *R;

// [SECTION] State and paths ---------------------------------------------------------

void
reset_state()
{
	memset(&S, 0, sizeof S);
	S.progress = -1.0;
	S.fd = -1;
	S.check_fd = -1;
}

const char *
env_or(const char *name, const char *fallback)
{
	const char *v = getenv(name);
	return v && *v ? v : fallback;
}

void
resolve_dirs()
{
	static_assert(sizeof g_logs >= sizeof g_home + sizeof "/logs", "g_logs holds g_home");
	snprintf(g_share, sizeof g_share, "%.*s", (int)sizeof g_share - 1,
		env_or("BKF_SHARE", "/app/share/brackenfold"));
	snprintf(g_python, sizeof g_python, "%.*s", (int)sizeof g_python - 1,
		env_or("BKF_PYTHON", "/app/venv/bin/python3"));
	const char *home = getenv("BKF_HOME");
	const char *xdg = getenv("XDG_DATA_HOME");
	if (home && *home)
		snprintf(g_home, sizeof g_home, "%.*s", (int)sizeof g_home - 1, home);
	else if (xdg && *xdg)
		snprintf(g_home, sizeof g_home, "%.*s/brackenfold", (int)sizeof g_home - 1, xdg);
	else
		snprintf(g_home, sizeof g_home, "%.*s/.local/share/brackenfold",
			(int)sizeof g_home - 1, env_or("HOME", "."));
	snprintf(g_logs, sizeof g_logs, "%.*s/logs", (int)sizeof g_home - 1, g_home);
}

// Makes the directory and every missing parent; every error, an existing one included,
// is ignored: a log that then cannot be opened is the only consequence. The copy has
// the room of g_logs, so that the logs directory of the longest g_home is made whole.
void
mkdirs(const char *path)
{
	char p[sizeof g_logs];
	snprintf(p, sizeof p, "%.*s", (int)sizeof p - 1, path);
	if (!p[0])
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
	case ACT_BUILD:
	case ACT_RETRY:
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
// it without ending the launcher. Alt+Return is the window's chord, not a press.
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
		if (k->keysym.mod & KMOD_ALT)
			return 0;
		return again ? 0 : activate(argc, argv);
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
	default:
		return 0;
	}
}

// [SECTION] Event loop --------------------------------------------------------------

void
loop(int argc, char **argv)
{
	int busy = 0;  // the last drain read output: more is likely on its way

	for (int quit = 0; !quit;) {
		SDL_Event e;
		// A check or a build is watched closely: its output, its end, a stop's grace.
		int wait = S.state == WORKING || S.state == CHECKING ? 50 : 250;
		if (busy ? SDL_PollEvent(&e) : SDL_WaitEventTimeout(&e, wait)) {
			quit = handle_event(&e, argc, argv);
			while (SDL_PollEvent(&e) && !quit)
				quit = handle_event(&e, argc, argv);
		}
		int before = S.state;
		busy = pump_status();
		busy |= pump_build();
		if (S.state != before)
			FOCUS = NO_FOCUS;
		draw();
		SDL_RenderPresent(R);
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
		snprintf(S.msg, sizeof S.msg, "%s", "The game stopped unexpectedly.");
	} else {
		S.state = READY;
	}
}

// Renders the chosen screen into the BMP at path. Returns the exit status. A file that
// could not be written completely is removed, so that a failed run leaves nothing.
int
screenshot(const char *path)
{
	sample(env_or("BKF_LAUNCHER_STATE", ""));
	FOCUS = NO_FOCUS;
	draw();

	SDL_Surface *s = SDL_CreateRGBSurfaceWithFormat(0, 960, 600, 32, SDL_PIXELFORMAT_ARGB8888);
	if (!s) {
		fprintf(stderr, "launcher: %s\n", SDL_GetError());
		return 1;
	}
	if (SDL_RenderReadPixels(R, nullptr, SDL_PIXELFORMAT_ARGB8888, s->pixels, s->pitch) != 0) {
		fprintf(stderr, "launcher: %s\n", SDL_GetError());
		SDL_FreeSurface(s);
		return 1;
	}
	SDL_RWops *out = SDL_RWFromFile(path, "wb");
	if (!out) {
		fprintf(stderr, "launcher: %s\n", SDL_GetError());
		SDL_FreeSurface(s);
		return 1;
	}
	// The save is given the stream but not its closing: a write that fails only when
	// the stream is flushed at close would otherwise pass for a saved picture.
	int ok = SDL_SaveBMP_RW(s, out, 0) == 0;
	ok = SDL_RWclose(out) == 0 && ok;
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

// [SECTION] Start-up and shutdown ---------------------------------------------------

#ifndef BKF_NO_MAIN
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
	resolve_dirs();
	(void)signal(SIGPIPE, SIG_IGN);
	// Inherited across exec: ignored, it would let the kernel reap every child before
	// the launcher could read how it ended.
	(void)signal(SIGCHLD, SIG_DFL);
	const char *limits = env_or("BKF_LIMITS", nullptr);
	if (limits && !read_limits(limits))
		fprintf(stderr, "launcher: BKF_LIMITS \"%s\" is not \"status=S,grace=S\"; "
			"ignored\n", limits);

	// A screenshot needs no display: unless told otherwise, SDL gets its dummy driver,
	// which renders the same software pixels without bringing up a windowing stack.
	const char *shot = getenv("BKF_LAUNCHER_SHOT");
	if (shot && !env_or("SDL_VIDEODRIVER", nullptr))
		(void)SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "dummy", SDL_HINT_OVERRIDE);
	(void)SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");

	if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER) != 0 || TTF_Init() != 0)
		return fail();

	Uint32 flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
	if (shot)
		flags |= SDL_WINDOW_HIDDEN;
	WIN = SDL_CreateWindow("Brackenfold", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
		960, 600, flags);
	if (!WIN)
		return fail();
	R = SDL_CreateRenderer(WIN, -1, shot ? SDL_RENDERER_SOFTWARE : SDL_RENDERER_PRESENTVSYNC);
	if (!R)
		R = SDL_CreateRenderer(WIN, -1, SDL_RENDERER_SOFTWARE);
	if (!R)
		return fail();
	(void)SDL_RenderSetLogicalSize(R, 960, 600);
	(void)SDL_SetRenderDrawBlendMode(R, SDL_BLENDMODE_BLEND);

	load_fonts();

	if (shot)
		return screenshot(shot);

	draw();
	SDL_RenderPresent(R);
	start_status();
	FOCUS = NO_FOCUS;
	loop(argc, argv);

	end_build();
	TTF_Quit();
	SDL_Quit();
	return 0;
}
#endif
