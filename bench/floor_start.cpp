// floor_start.cpp: the least a launcher can do. "floor_start shot PATH" starts SDL (video
// and game controllers) and SDL2_ttf, opens the window (hidden), the software renderer
// and the four fonts, paints the ready screen once, reads it back and writes it as a
// BMP: the floor of the start-up figures. "floor_start idle ready|working" is the
// launcher as it was before it drew only changed pictures: a visible window on SDL's
// default renderer, repainted and presented on every wake-up (every 250 ms, or 50 ms
// while a build runs): the floor of the live window's figures.

#include "floor.h"

#include <cstdio>
#include <cstring>

static int
fail()
{
	fprintf(stderr, "floor_start: %s\n", SDL_GetError());
	return 1;
}

static void
le(unsigned char *p, Uint32 v, int bytes)
{
	for (int i = 0; i < bytes; i++)
		p[i] = (unsigned char)(v >> (8 * i));
}

// The pixels read back into a surface and written straight out: a 54-byte header, then
// the rows bottom up, ARGB8888 words being the B, G, R, A bytes a 32-bit BMP holds.
static int
shot(const char *path)
{
	floor_frame(FL_READY, "", 0);
	SDL_Surface *s = SDL_CreateRGBSurfaceWithFormat(0, 960, 600, 32, SDL_PIXELFORMAT_ARGB8888);
	if (!s)
		return fail();
	if (SDL_RenderReadPixels(FL_R, nullptr, SDL_PIXELFORMAT_ARGB8888, s->pixels, s->pitch) != 0)
		return fail();
	const Uint32 row = 960 * 4, size = row * 600;
	unsigned char head[54] = {'B', 'M'};
	le(head + 2, 54 + size, 4);
	le(head + 10, 54, 4);
	le(head + 14, 40, 4);
	le(head + 18, 960, 4);
	le(head + 22, 600, 4);
	le(head + 26, 1, 2);
	le(head + 28, 32, 2);
	le(head + 34, size, 4);
	FILE *f = fopen(path, "wb");
	if (!f)
		return 1;
	int ok = fwrite(head, 1, sizeof head, f) == sizeof head;
	for (int y = 599; ok && y >= 0; y--)
		ok = fwrite(static_cast<char *>(s->pixels) + y * s->pitch, 1, row, f) == row;
	return (fclose(f) != 0) | !ok;
}

static int
idle(int screen)
{
	int wait = screen == FL_WORKING ? 50 : 250;
	Uint32 started = SDL_GetTicks();
	for (;;) {
		SDL_Event e;
		if (SDL_WaitEventTimeout(&e, wait)) {
			do {
				if (e.type == SDL_QUIT)
					return 0;
			} while (SDL_PollEvent(&e));
		}
		floor_frame(screen, "", started);
		SDL_RenderPresent(FL_R);
	}
}

int
main(int argc, char **argv)
{
	if (argc < 3)
		return 2;
	int is_shot = !strcmp(argv[1], "shot");
	if (is_shot && !SDL_getenv("SDL_VIDEODRIVER"))
		(void)SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "dummy", SDL_HINT_OVERRIDE);
	if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER) != 0 || TTF_Init() != 0)
		return fail();
	Uint32 flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
	if (is_shot)
		flags |= SDL_WINDOW_HIDDEN;
	SDL_Window *w = SDL_CreateWindow(is_shot ? "Brackenfold" : "Floor", SDL_WINDOWPOS_CENTERED,
		SDL_WINDOWPOS_CENTERED, 960, 600, flags);
	if (!w)
		return fail();
	FL_R = SDL_CreateRenderer(w, -1, is_shot ? SDL_RENDERER_SOFTWARE : SDL_RENDERER_PRESENTVSYNC);
	if (!FL_R)
		FL_R = SDL_CreateRenderer(w, -1, SDL_RENDERER_SOFTWARE);
	if (!FL_R)
		return fail();
	(void)SDL_RenderSetLogicalSize(FL_R, 960, 600);
	(void)SDL_SetRenderDrawBlendMode(FL_R, SDL_BLENDMODE_BLEND);
	(void)floor_fonts();
	if (is_shot)
		return shot(argv[2]);
	return idle(!strcmp(argv[2], "working") ? FL_WORKING : FL_READY);
}
