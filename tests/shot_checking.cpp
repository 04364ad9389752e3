// shot_checking.cpp: renders the checking screen, the one screen that the launcher's
// screenshot mode has no word for, into the BMP file named by its one argument. It sets
// up SDL as a screenshot run does (hidden window, software renderer, logical 960 by 600,
// alpha blending, the launcher's fonts) and draws the start state with the launcher's
// own draw(), so the picture is the launcher's checking screen pixel for pixel.

#include "launcher.h"

#include <cstdlib>

static int
fail()
{
	fprintf(stderr, "shot_checking: %s\n", SDL_GetError());
	return 1;
}

int
main(int argc, char **argv)
{
	if (argc != 2) {
		fprintf(stderr, "usage: %s OUT.bmp\n", argv[0]);
		return 2;
	}
	resolve_dirs();
	const char *driver = getenv("SDL_VIDEODRIVER");
	if (!driver || !*driver)
		(void)SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "dummy", SDL_HINT_OVERRIDE);
	if (SDL_Init(SDL_INIT_VIDEO) != 0 || TTF_Init() != 0)
		return fail();
	WIN = SDL_CreateWindow("Brackenfold", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
		960, 600, SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN);
	if (!WIN)
		return fail();
	R = SDL_CreateRenderer(WIN, -1, SDL_RENDERER_SOFTWARE);
	if (!R)
		return fail();
	(void)SDL_RenderSetLogicalSize(R, 960, 600);
	(void)SDL_SetRenderDrawBlendMode(R, SDL_BLENDMODE_BLEND);
	load_fonts();

	reset_state();  // CHECKING, as at start-up before the status query answers
	draw();

	SDL_Surface *s = SDL_CreateRGBSurfaceWithFormat(0, 960, 600, 32, SDL_PIXELFORMAT_ARGB8888);
	if (!s)
		return fail();
	if (SDL_RenderReadPixels(R, nullptr, SDL_PIXELFORMAT_ARGB8888, s->pixels, s->pitch) != 0)
		return fail();
	if (SDL_SaveBMP(s, argv[1]) != 0)
		return fail();
	SDL_FreeSurface(s);
	TTF_Quit();
	SDL_Quit();
	return 0;
}
