/* scene.c: one frame of the stand-in game: a dusk sky, rolling hills, a lantern that
 * drifts across them, and what the game was told, so that a person trying the launcher
 * can see the options that reached it. */
#include "game.h"

#include <math.h>
#include <stdio.h>

static void
sky(SDL_Renderer *r, int w, int h)
{
	int y;

	for (y = 0; y < h; y++) {
		double t = (double)y / (double)h;
		(void)SDL_SetRenderDrawColor(r, (Uint8)(30 + 120 * t), (Uint8)(24 + 60 * t),
			(Uint8)(70 + 40 * t), 255);
		(void)SDL_RenderDrawLine(r, 0, y, w - 1, y);
	}
}

static void
hills(SDL_Renderer *r, int w, int h, Uint32 ms)
{
	int x;

	for (x = 0; x < w; x++) {
		double u = (double)x / (double)w;
		int far = (int)(h * (0.62 + 0.05 * sin(u * 7.0 + ms / 4000.0)));
		int near = (int)(h * (0.74 + 0.06 * sin(u * 4.0 + 1.3)));
		(void)SDL_SetRenderDrawColor(r, 40, 70, 60, 255);
		(void)SDL_RenderDrawLine(r, x, far, x, h - 1);
		(void)SDL_SetRenderDrawColor(r, 24, 48, 36, 255);
		(void)SDL_RenderDrawLine(r, x, near, x, h - 1);
	}
}

static void
lantern(SDL_Renderer *r, int w, int h, Uint32 ms)
{
	double t = (double)(ms % 12000) / 12000.0;
	int cx = (int)(w * (0.1 + 0.8 * t));
	int cy = (int)(h * (0.35 + 0.05 * sin(ms / 500.0)));
	int rad = h / 30 + 4;
	int dy;

	(void)SDL_SetRenderDrawColor(r, 255, 204, 51, 255);
	for (dy = -rad; dy <= rad; dy++) {
		int dx = (int)sqrt((double)(rad * rad - dy * dy));
		(void)SDL_RenderDrawLine(r, cx - dx, cy + dy, cx + dx, cy + dy);
	}
}

static void
line(SDL_Renderer *r, int x, int *y, int scale, const char *s)
{
	(void)SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
	font_draw(r, x + scale / 2 + 1, *y + scale / 2 + 1, scale, s);
	(void)SDL_SetRenderDrawColor(r, 240, 236, 220, 255);
	font_draw(r, x, *y, scale, s);
	*y += 10 * scale;
}

void
scene_draw(SDL_Renderer *r, int w, int h, Uint32 ms, const struct options *o,
	const char *mode, double left)
{
	char buf[300];
	int big = w >= 1200 ? 6 : w >= 700 ? 5 : 3;
	int small = big / 2 > 1 ? big / 2 : 1;
	int x = w / 16;
	int y = h / 10;
	const char *title = "BRACKENFOLD (STAND-IN)";

	sky(r, w, h);
	hills(r, w, h, ms);
	lantern(r, w, h, ms);

	while (big > 1 && font_width(title, big) > w - 2 * x)
		big--;
	line(r, x, &y, big, title);
	(void)snprintf(buf, sizeof buf, "disc: %.40s, patch %.16s", bkf_disc_title,
		bkf_patch_version);
	line(r, x, &y, small, buf);
	(void)snprintf(buf, sizeof buf, "game: %.200s", o->game ? o->game : "(none given)");
	line(r, x, &y, small, buf);
	line(r, x, &y, small, mode);
	if (o->seconds >= 0)
		(void)snprintf(buf, sizeof buf, "ends in %.0f s, then %s %d", left > 0 ? left : 0.0,
			o->signal ? "signal" : "exit status", o->signal ? o->signal : o->status);
	else
		(void)snprintf(buf, sizeof buf, "press escape to quit, then %s %d",
			o->signal ? "signal" : "exit status", o->signal ? o->signal : o->status);
	line(r, x, &y, small, buf);
}
