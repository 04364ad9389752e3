// game_launch.cpp: runs the built game. play() rotates the game's log, gives a first run
// its one-time options, hides the launcher's window and blocks until the game ends; a
// game that cannot start or stops unexpectedly brings the window back on the crashed
// screen, any other end of the game ends the launcher too.

#include "launcher.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static int
crashed(SDL_Window *win, const char *msg)
{
	S.state = CRASHED;
	snprintf(S.msg, sizeof S.msg, "%s", msg);
	SDL_ShowWindow(win);
	SDL_RaiseWindow(win);
	return 1;
}

// A wrapper script that runs the game reports a crash as 128 plus the signal.
static int
crash_status(int code)
{
	switch (code - 128) {
	case SIGSEGV:
	case SIGABRT:
	case SIGBUS:
	case SIGFPE:
	case SIGILL:
	case SIGKILL:
		return 1;
	default:
		return 0;
	}
}

// Returns 1 when the launcher goes on with the crashed screen, 0 when the game ended
// normally and the launcher is to end with it.
int
play(SDL_Window *win, int argc, char **argv)
{
	char exe[1200], game[1200], marker[1200], log[1200], old[1200];
	constexpr int home = (int)sizeof g_home - 1, logs = (int)sizeof g_logs - 1;

	snprintf(exe, sizeof exe, "%.*s/build/host/bkf", home, g_home);
	snprintf(game, sizeof game, "%.*s/game", home, g_home);
	snprintf(marker, sizeof marker, "%.*s/.launched", home, g_home);
	mkdirs(g_logs);
	snprintf(log, sizeof log, "%.*s/bkf.log", logs, g_logs);
	snprintf(old, sizeof old, "%.*s/bkf.1.log", logs, g_logs);
	(void)rename(log, old);

	// 64 slots: the fixed ones, the first-run options, the launcher's own arguments as
	// long as the one before went into slot 61 or lower, and the null after the last.
	const char *args[64];
	int n = 0;
	args[n++] = exe;
	args[n++] = "--game";
	args[n++] = game;
	args[n++] = "--run";
	struct stat st;
	if (stat(marker, &st) != 0) {
		args[n++] = "--resolution";
		args[n++] = "native";
		FILE *f = fopen(marker, "w");
		if (f)
			(void)fclose(f);
	}
	for (int i = 1; i < argc && n <= 62; i++)
		args[n++] = argv[i];
	args[n] = nullptr;

	// The game's output goes to its log unless the launcher runs on a terminal; the
	// log is opened here, as everything the forked child needs is made before the fork.
	char fail[1220];  // "cannot run " and the longest executable path
	snprintf(fail, sizeof fail, "cannot run %.1199s: ", exe);
	// Only a regular file is written, opened without blocking on a FIFO put there; the
	// game's output then stays the launcher's.
	int fd = -1;
	struct stat ls;
	if (!isatty(2))
		fd = open(log, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
	if (fd >= 0 && (fstat(fd, &ls) != 0 || !S_ISREG(ls.st_mode))) {
		(void)close(fd);
		fd = -1;
	}
	Spawn sp = {args, environ, fail, fd, fd, 0, 0};

	SDL_HideWindow(win);
	SDL_PumpEvents();

	pid_t pid = spawn(&sp);
	if (fd >= 0)
		(void)close(fd);
	if (pid < 0)
		return crashed(win, tr("The game could not start."));

	// A wait that fails says nothing of how the game ended: not a normal end.
	int ws;
	int ok = reap(pid, &ws);
	if (!ok || WIFSIGNALED(ws) || (WIFEXITED(ws) && (WEXITSTATUS(ws) == 3 ||
		crash_status(WEXITSTATUS(ws)))))
		return crashed(win, tr("The game stopped unexpectedly."));
	if (WIFEXITED(ws) && WEXITSTATUS(ws) == 127)
		return crashed(win, tr("The game could not start."));
	return 0;
}
