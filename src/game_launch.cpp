// game_launch.cpp: runs the built game. play() rotates the game's log, gives a first run
// its one-time options, hides the launcher's window and blocks until the game ends; a
// game that cannot start or stops unexpectedly brings the window back on the crashed
// screen, any other end of the game ends the launcher too.

#include "launcher.h"

#include <cerrno>
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

// In the forked child: the game's output goes to its log unless the launcher runs on a
// terminal, then the game replaces the child. Only async-signal-safe calls, but for
// the formatting of the one line that says why the game could not run.
[[noreturn]] static void
run_game(const char *exe, const char *log, const char *const *args)
{
	if (!isatty(2)) {
		int fd = open(log, O_WRONLY | O_CREAT | O_TRUNC, 0644);
		if (fd >= 0) {
			(void)dup2(fd, 1);
			(void)dup2(fd, 2);
		}
	}
	close_fds_from(3);
	execv(exe, const_cast<char *const *>(args));
	char line[1400];
	int n = snprintf(line, sizeof line, "cannot run %.1199s: %.180s\n", exe, strerror(errno));
	if (n > 0) {
		ssize_t w = write(2, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
		(void)w;  // nowhere left to report a failed write
	}
	_exit(127);
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

	SDL_HideWindow(win);
	SDL_PumpEvents();

	pid_t pid = fork();
	if (pid == 0)
		run_game(exe, log, args);
	if (pid < 0)
		return crashed(win, "The game could not start.");

	int ws = 0;
	while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
	}
	if (WIFSIGNALED(ws) || (WIFEXITED(ws) && WEXITSTATUS(ws) == 3))
		return crashed(win, "The game stopped unexpectedly.");
	if (WIFEXITED(ws) && WEXITSTATUS(ws) == 127)
		return crashed(win, "The game could not start.");
	return 0;
}
