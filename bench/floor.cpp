// floor.cpp: the floor frame of every screen, written straight through: no state
// record, no formatting beyond what a screen's own texts need, no button table. Every
// position is a canvas pixel times FL_SCALE; the renderer scales nothing.

#include "floor.h"

#include <cstdio>
#include <cstdlib>

SDL_Renderer *FL_R;
int FL_SCALE = 1;
TTF_Font *FL_TITLE, *FL_BODY, *FL_SMALL, *FL_BUTTON;
TTF_Font *FL_BODY_1X, *FL_BUTTON_1X;

// SDL2_ttf's sizes are points at 72 dots an inch: twice that is twice the size.
static TTF_Font *
open_at(const char *path, int size, int scale)
{
	unsigned dpi = 72u * (unsigned)scale;
	return scale == 1 ? TTF_OpenFont(path, size) : TTF_OpenFontDPI(path, size, dpi, dpi);
}

static TTF_Font *
open_face(const char *file, int size, int scale)
{
	static const char *dirs[] = {
		"/usr/share/fonts/dejavu",
		"/usr/share/fonts/truetype/dejavu",
		"/usr/share/fonts/TTF",
		"/usr/share/fonts/dejavu-sans-fonts",
	};
	char path[1100];
	const char *env = getenv("BKF_FONTS");
	if (env && *env) {
		snprintf(path, sizeof path, "%.1000s/%s", env, file);
		if (TTF_Font *f = open_at(path, size, scale))
			return f;
	}
	for (const char *d : dirs) {
		snprintf(path, sizeof path, "%s/%s", d, file);
		if (TTF_Font *f = open_at(path, size, scale))
			return f;
	}
	return nullptr;
}

int
floor_fonts(int scale)
{
	FL_SCALE = scale;
	FL_TITLE = open_face("DejaVuSans-Bold.ttf", 40, scale);
	FL_BODY = open_face("DejaVuSans.ttf", 24, scale);
	FL_SMALL = open_face("DejaVuSans.ttf", 16, scale);
	FL_BUTTON = open_face("DejaVuSans-Bold.ttf", 24, scale);
	FL_BODY_1X = scale == 1 ? FL_BODY : open_face("DejaVuSans.ttf", 24, 1);
	FL_BUTTON_1X = scale == 1 ? FL_BUTTON : open_face("DejaVuSans-Bold.ttf", 24, 1);
	return FL_BODY != nullptr && FL_BODY_1X != nullptr;
}

static void
rect(int x, int y, int w, int h, Uint8 r, Uint8 g, Uint8 b, Uint8 a)
{
	const int k = FL_SCALE;
	SDL_Rect q = {x * k, y * k, w * k, h * k};
	(void)SDL_SetRenderDrawColor(FL_R, r, g, b, a);
	(void)SDL_RenderFillRect(FL_R, &q);
}

static void
put(TTF_Font *f, int x, int y, int wrap, SDL_Color c, const char *s)
{
	if (!f)
		return;
	const int k = FL_SCALE;
	SDL_Surface *sf = wrap ? TTF_RenderUTF8_Blended_Wrapped(f, s, c, (Uint32)(wrap * k))
		: TTF_RenderUTF8_Blended(f, s, c);
	if (!sf)
		return;
	if (SDL_Texture *t = SDL_CreateTextureFromSurface(FL_R, sf)) {
		int w = sf->w;
		if (!wrap && (920 - x) * k < w)
			w = (920 - x) * k;
		SDL_Rect src = {0, 0, w, sf->h}, dst = {x * k, y * k, w, sf->h};
		(void)SDL_RenderCopy(FL_R, t, &src, &dst);
		SDL_DestroyTexture(t);
	}
	SDL_FreeSurface(sf);
}

static void
bands()
{
	for (int y = 0; y < 600; y += 4) {
		double t = y / 600.0;
		int r, g, b;
		if (t < 0.5) {
			r = (int)(64 + 2 * (86 * t));
			g = (int)(56 + 2 * (14 * t));
			b = (int)(140 + 2 * (-10 * t));
		} else {
			double u = t - 0.5;
			r = (int)(150 - 2 * (120 * u));
			g = (int)(70 - 2 * (36 * u));
			b = (int)(130 - 2 * (60 * u));
		}
		rect(0, y, 960, 4, (Uint8)r, (Uint8)g, (Uint8)b, 255);
	}
}

static const SDL_Color WHITE_ = {255, 255, 255, 255};
static const SDL_Color SOFT_ = {225, 220, 245, 255};
static const SDL_Color DIM_ = {190, 185, 215, 255};

static int
label_width(const char *label)
{
	int w = 0, h = 0;
	(void)TTF_SizeUTF8(FL_BUTTON_1X, label, &w, &h);
	return w;
}

// One button of the bar: the layout measures the label, the painting measures it again
// to centre it; the rightmost button is the focused one.
static void
button(const char *label, int w, int right, int focused)
{
	int x = right - w, y = 488;
	if (focused) {
		rect(x - 4, y - 4, w + 8, 72, 255, 204, 51, 255);
		rect(x, y, w, 64, 250, 250, 250, 255);
	} else {
		rect(x, y, w, 64, 60, 50, 100, 200);
	}
	int lw = 0, lh = 0;
	(void)TTF_SizeUTF8(FL_BUTTON_1X, label, &lw, &lh);
	SDL_Color c = focused ? SDL_Color{40, 30, 80, 255} : SDL_Color{255, 255, 255, 255};
	put(FL_BUTTON, x + (w - lw) / 2, y + (64 - lh) / 2, 0, c, label);
}

static void
bar(const char *left, const char *right)
{
	int wr = label_width(right);
	wr = (wr < 116 ? 116 : wr) + 64;
	int wl = 0;
	if (left) {
		wl = label_width(left);
		wl = (wl < 116 ? 116 : wl) + 64;
		button(left, wl, 912 - wr - 20, 0);
	}
	button(right, wr, 912, 1);
}

void
floor_frame(int screen, const char *logs, Uint32 started)
{
	char line[1024];

	bands();
	const char *title = screen == FL_CHECKING || screen == FL_READY || screen == FL_CRASHED
		? "Brackenfold" : screen == FL_UPDATE ? "Updating Brackenfold" : "Set up Brackenfold";
	put(FL_TITLE, 48, 48, 0, WHITE_, title);

	switch (screen) {
	case FL_CHECKING:
		put(FL_BODY, 48, 112, 0, SOFT_, "Checking the game\u2026");
		return;
	case FL_SETUP:
		put(FL_BODY, 48, 112, 864, SOFT_,
			"The game is built on this computer, once, before its first run. It downloads "
			"the game's disc image and its 2.0 patch (630 MB), then builds the game from "
			"them.\n\nThat takes 10 to 20 minutes and about 3 GB of space.");
		bar("Quit", "Download and Build");
		return;
	case FL_UPDATE:
		put(FL_BODY, 48, 112, 864, SOFT_,
			"This version needs the game rebuilt, which takes a few minutes. Your parks "
			"and saves are kept.");
		bar("Quit", "Build");
		return;
	case FL_WORKING: {
		put(FL_BODY, 48, 112, 0, WHITE_, "Step 7 of 7: Compiling");
		Uint32 e = SDL_GetTicks() - started;
		char clock[32];
		snprintf(clock, sizeof clock, "%u:%02u", e / 60000, e / 1000 % 60);
		int w = 0;
		(void)TTF_SizeUTF8(FL_BODY_1X, clock, &w, nullptr);
		put(FL_BODY, 912 - w, 112, 0, DIM_, clock);
		rect(48, 160, 864, 14, 30, 24, 60, 255);
		rect(48, 160, (int)(0.42 * 864), 14, 255, 204, 51, 255);
		put(FL_SMALL, 48, 196, 0, DIM_,
			"[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o");
		put(FL_SMALL, 48, 510, 0, DIM_, "You can leave it running; it needs no help.");
		bar(nullptr, "Cancel");
		return;
	}
	case FL_FAILED:
	case FL_CRASHED:
		put(FL_BODY, 48, 112, 864, WHITE_, screen == FL_FAILED
			? "The disc image did not download: the server could not be reached."
			: "The game stopped unexpectedly.");
		snprintf(line, sizeof line, "The logs are in %.1000s", logs);
		put(FL_SMALL, 48, 222, 864, DIM_, line);
		bar("Quit", screen == FL_FAILED ? "Try Again" : "Play Again");
		return;
	default:
		put(FL_BODY, 48, 112, 0, SOFT_, "Ready to play. Version 1.5.6.");
		bar("Quit", "Play");
		return;
	}
}
