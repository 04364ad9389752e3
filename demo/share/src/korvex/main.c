/* main.c: the stand-in for the built game. It prints its argument vector, opens its
 * own window, shows what it was told, and ends as told: after --seconds N, or on
 * Escape or when its window is closed; then with the exit status of --status N, or by
 * the signal of --signal N. Start reading at main(). */
#include "game.h"

#include <errno.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int
number(const char *s, double lo, double hi, double *v)
{
	char *end;

	errno = 0;
	*v = strtod(s, &end);
	return end != s && *end == '\0' && errno == 0 && isfinite(*v) && *v >= lo && *v <= hi;
}

/* A signal whose default action does not end the process (it stops it, or is ignored)
 * would leave the launcher waiting for a game that never ends. */
static int
ends_process(int sig)
{
	return sig != SIGCHLD && sig != SIGCONT && sig != SIGSTOP && sig != SIGTSTP &&
		sig != SIGTTIN && sig != SIGTTOU && sig != SIGURG && sig != SIGWINCH;
}

static void
parse(int argc, char **argv, struct options *o)
{
	int i;
	double v;

	o->game = NULL;
	o->resolution = NULL;
	o->run = 0;
	o->seconds = -1;
	o->status = 0;
	o->signal = 0;
	for (i = 1; i < argc; i++) {
		const char *a = argv[i];
		const char *val = i + 1 < argc ? argv[i + 1] : NULL;

		if (!strcmp(a, "--run")) {
			o->run = 1;
			continue;
		}
		if (strcmp(a, "--game") && strcmp(a, "--resolution") && strcmp(a, "--seconds") &&
			strcmp(a, "--status") && strcmp(a, "--signal")) {
			printf("ignoring the unknown option %s\n", a);
			continue;
		}
		if (!val) {
			printf("ignoring %s: it needs a value\n", a);
			continue;
		}
		i++;
		if (!strcmp(a, "--game"))
			o->game = val;
		else if (!strcmp(a, "--resolution"))
			o->resolution = val;
		else if (!strcmp(a, "--seconds") && number(val, 0, 86400, &v))
			o->seconds = v;
		else if (!strcmp(a, "--status") && number(val, 0, 255, &v) && v == floor(v))
			o->status = (int)v;
		else if (!strcmp(a, "--signal") && number(val, 1, 64, &v) && v == floor(v) &&
			ends_process((int)v))
			o->signal = (int)v;
		else
			printf("ignoring %s %s: not a value it takes\n", a, val);
	}
}

/* The window's size and flags from --resolution: "native" is the desktop's own mode,
 * WxH a window of that size, anything else the default window. */
static Uint32
window_mode(const struct options *o, int *w, int *h, char *mode, size_t size)
{
	SDL_DisplayMode dm;
	int rw, rh;
	char x;

	*w = 960;
	*h = 540;
	if (o->resolution && !strcmp(o->resolution, "native")) {
		if (SDL_GetDesktopDisplayMode(0, &dm) == 0) {
			*w = dm.w;
			*h = dm.h;
		}
		(void)snprintf(mode, size, "resolution: native (%dx%d)", *w, *h);
		return SDL_WINDOW_FULLSCREEN_DESKTOP;
	}
	if (o->resolution && sscanf(o->resolution, "%d%c%d", &rw, &x, &rh) == 3 && x == 'x' &&
		rw >= 160 && rw <= 8192 && rh >= 120 && rh <= 8192) {
		*w = rw;
		*h = rh;
		(void)snprintf(mode, size, "resolution: %dx%d", *w, *h);
		return 0;
	}
	if (o->resolution)
		printf("ignoring --resolution %s: not a size it knows\n", o->resolution);
	(void)snprintf(mode, size, "resolution: windowed (%dx%d)", *w, *h);
	return 0;
}

static void
report(const struct options *o, const char *mode)
{
	struct stat st;

	if (o->game)
		printf("game directory: %s (%s)\n", o->game,
			stat(o->game, &st) == 0 && S_ISDIR(st.st_mode) ? "found" : "missing");
	else
		printf("game directory: none given\n");
	printf("run: %s\n", o->run ? "yes, straight into play" : "no");
	printf("%s\n", mode);
	if (o->seconds >= 0)
		printf("ends after %g seconds\n", o->seconds);
	else
		printf("runs until Escape or until its window is closed\n");
	fflush(stdout);
}

/* Runs the window until the time is up, Escape is pressed or the window is closed. */
static int
play(const struct options *o)
{
	char mode[128];
	int w, h;
	Uint32 flags;
	SDL_Window *win;
	SDL_Renderer *r;
	Uint32 t0;
	int quit = 0;

	if (SDL_Init(SDL_INIT_VIDEO) != 0) {
		printf("cannot start SDL: %s\n", SDL_GetError());
		return 0;
	}
	flags = window_mode(o, &w, &h, mode, sizeof mode);
	report(o, mode);
	win = SDL_CreateWindow("Brackenfold (stand-in)", SDL_WINDOWPOS_CENTERED,
		SDL_WINDOWPOS_CENTERED, w, h, flags | SDL_WINDOW_SHOWN);
	if (!win) {
		printf("cannot open the window: %s\n", SDL_GetError());
		SDL_Quit();
		return 0;
	}
	r = SDL_CreateRenderer(win, -1, 0);
	if (!r)
		r = SDL_CreateRenderer(win, -1, SDL_RENDERER_SOFTWARE);
	if (!r) {
		printf("cannot draw in the window: %s\n", SDL_GetError());
		SDL_DestroyWindow(win);
		SDL_Quit();
		return 0;
	}
	SDL_GetWindowSize(win, &w, &h);
	t0 = SDL_GetTicks();
	while (!quit) {
		SDL_Event e;
		Uint32 ms = SDL_GetTicks() - t0;
		double left = o->seconds - ms / 1000.0;

		while (SDL_PollEvent(&e)) {
			if (e.type == SDL_QUIT)
				quit = 1;
			else if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE)
				quit = 1;
			else if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
				w = e.window.data1;
				h = e.window.data2;
			}
		}
		scene_draw(r, w, h, ms, o, mode, left);
		SDL_RenderPresent(r);
		if (o->seconds >= 0 && left <= 0)
			quit = 1;
		else
			SDL_Delay(16);
	}
	SDL_DestroyRenderer(r);
	SDL_DestroyWindow(win);
	SDL_Quit();
	return 1;
}

int
main(int argc, char **argv)
{
	struct options o;
	int i;

	setvbuf(stdout, NULL, _IOLBF, 0);
	printf("Brackenfold stand-in game (%s, patch %s, disc %.12s)\n", bkf_disc_title,
		bkf_patch_version, bkf_disc_digest);
	for (i = 0; i < argc; i++)
		printf("argv[%d]: %s\n", i, argv[i]);
	parse(argc, argv, &o);
	if (!play(&o))
		return 1;

	if (o.signal) {
		sigset_t set;

		printf("ending by signal %d\n", o.signal);
		fflush(stdout);
		(void)signal(o.signal, SIG_DFL);
		sigemptyset(&set);
		sigaddset(&set, o.signal);
		(void)sigprocmask(SIG_UNBLOCK, &set, NULL);
		(void)raise(o.signal);
		printf("signal %d did not end the game: exit status 3 instead\n", o.signal);
		return 3;
	}
	printf("ending with exit status %d\n", o.status);
	return o.status;
}
