// bkf_render OUT.bmp: draws one screen of the launcher, with content given in the
// environment, into a BMP on the screenshot mode's canvas, so that a test can compare a
// real window with the exact pixels of any state (a message of its own, a last line of
// raw bytes, a progress value), and scripts/shots can picture the checking screen, which
// the screenshot mode has no word for. The directories come from BKF_HOME, the language
// from the locale variables, and the rest as in the launcher itself.
//   HR_STATE       state code (0..6); unset or empty: 0, the checking screen
//   HR_NEEDS_DISC  0 or 1
//   HR_BLOCKED     1: a failure that is no build's (a plain title, no logs line)
//   HR_MSG, HR_STEP_LABEL, HR_LAST_LINE   texts, cut as the launcher cuts them
//   HR_STEP, HR_STEPS                     step numbers
//   HR_PROGRESS    the progress value, read by strtod ("nan", "-0" and "inf" included)

#include "launcher.h"

#include <cstdlib>
#include <cstring>

static const char *
var(const char *name)
{
	const char *v = getenv(name);
	return v ? v : "";
}

int
main(int argc, char **argv)
{
	if (argc != 2) {
		fputs("usage: bkf_render OUT.bmp\n", stderr);
		return 2;
	}
	(void)choose_language();
	if (!canvas()) {
		fprintf(stderr, "bkf_render: %s\n", SDL_GetError());
		return 1;
	}
	(void)resolve_dirs();

	reset_state();
	S.state = atoi(var("HR_STATE"));
	S.needs_disc = atoi(var("HR_NEEDS_DISC"));
	S.blocked = atoi(var("HR_BLOCKED"));
	S.step = atoi(var("HR_STEP"));
	S.steps = atoi(var("HR_STEPS"));
	if (*var("HR_PROGRESS"))
		S.progress = strtod(var("HR_PROGRESS"), nullptr);
	snprintf(S.msg, sizeof S.msg, "%.511s", var("HR_MSG"));
	snprintf(S.step_label, sizeof S.step_label, "%.159s", var("HR_STEP_LABEL"));
	snprintf(S.last_line, sizeof S.last_line, "%.255s", var("HR_LAST_LINE"));
	S.started_ms = SDL_GetTicks();
	FOCUS = NO_FOCUS;
	draw();

	SDL_Surface *s = SDL_CreateRGBSurfaceWithFormat(0, 960, 600, 32, SDL_PIXELFORMAT_ARGB8888);
	if (!s || SDL_RenderReadPixels(R, nullptr, SDL_PIXELFORMAT_ARGB8888, s->pixels,
		s->pitch) != 0 || SDL_SaveBMP(s, argv[1]) != 0) {
		fprintf(stderr, "bkf_render: %s\n", SDL_GetError());
		return 1;
	}
	SDL_FreeSurface(s);
	TTF_Quit();
	SDL_Quit();
	return 0;
}
