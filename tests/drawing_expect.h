// drawing_expect.h: the screens as they should look, painted from their description
// rather than by draw(), for the drawing tests to compare the canvas with. The band
// colours come from their own arithmetic here; the texts are rendered and copied
// straight through SDL2_ttf (so the glyphs match on this machine), the bar is laid out
// and painted from its measures. expect_screen() paints one whole screen on R.
#pragma once

#include "support.h"

namespace bkf {

constexpr SDL_Color X_WHITE = {255, 255, 255, 255};
constexpr SDL_Color X_SOFT = {225, 220, 245, 255};
constexpr SDL_Color X_DIM = {190, 185, 215, 255};
constexpr SDL_Color X_GOLD = {255, 204, 51, 255};
constexpr SDL_Color X_TRACK = {30, 24, 60, 255};

// The colour of the band at y (a multiple of 4), each double step in the stated order.
inline Rgb
band(int y)
{
	double t = y / 600.0;
	if (t < 0.5) {
		double r = 86 * t, g = 14 * t, b = -10 * t;
		r = 2 * r, g = 2 * g, b = 2 * b;
		return {(int)(64 + r), (int)(56 + g), (int)(140 + b)};
	}
	double u = t - 0.5;
	double r = 120 * u, g = 36 * u, b = 60 * u;
	r = 2 * r, g = 2 * g, b = 2 * b;
	return {(int)(150 - r), (int)(70 - g), (int)(130 - b)};
}

inline void
x_fill(int x, int y, int w, int h, SDL_Color c)
{
	SDL_Rect r = {x, y, w, h};
	(void)SDL_SetRenderDrawColor(R, c.r, c.g, c.b, c.a);
	(void)SDL_RenderFillRect(R, &r);
}

inline void
x_bands()
{
	for (int y = 0; y < 600; y += 4) {
		Rgb c = band(y);
		x_fill(0, y, 960, 4, {(Uint8)c.r, (Uint8)c.g, (Uint8)c.b, 255});
	}
}

// One text straight through SDL2_ttf; a single line is cut at x = 920 unless told not to.
inline void
x_text(TTF_Font *f, int x, int y, int wrap, SDL_Color c, const char *s, bool cut = true)
{
	if (!f || !*s)
		return;
	SDL_Surface *surf = wrap ? TTF_RenderUTF8_Blended_Wrapped(f, s, c, (Uint32)wrap)
		: TTF_RenderUTF8_Blended(f, s, c);
	ASSERT_NE(surf, nullptr) << SDL_GetError();
	SDL_Texture *t = SDL_CreateTextureFromSurface(R, surf);
	ASSERT_NE(t, nullptr) << SDL_GetError();
	int w = surf->w;
	if (cut && !wrap && 920 - x < w)
		w = 920 - x;
	SDL_Rect src = {0, 0, w, surf->h}, dst = {x, y, w, surf->h};
	if (w > 0)
		(void)SDL_RenderCopy(R, t, &src, &dst);
	SDL_DestroyTexture(t);
	SDL_FreeSurface(surf);
}

inline int
label_width(const char *s, int *h = nullptr)
{
	int w = 0, hh = 0;
	if (F_BUTTON)
		(void)TTF_SizeUTF8(F_BUTTON, s, &w, &hh);
	if (h)
		*h = hh;
	return w;
}

// Face rectangles of a bar of n labels, leftmost first, right edge 912, gap 20.
inline void
x_layout(int n, const char *const *labels, SDL_Rect *faces)
{
	int right = 912;
	for (int i = n - 1; i >= 0; i--) {
		int lw = label_width(labels[i]);
		int w = (lw > 116 ? lw : 116) + 64;
		faces[i] = {right - w, 488, w, 64};
		right -= w + 20;
	}
}

inline void
x_bar(int n, const char *const *labels, int focus)
{
	SDL_Rect f[3];
	x_layout(n, labels, f);
	for (int i = 0; i < n; i++) {
		SDL_Color label = {255, 255, 255, 255};
		if (i == focus) {
			x_fill(f[i].x - 4, f[i].y - 4, f[i].w + 8, f[i].h + 8, X_GOLD);
			x_fill(f[i].x, f[i].y, f[i].w, f[i].h, {250, 250, 250, 255});
			label = {40, 30, 80, 255};
		} else {
			x_fill(f[i].x, f[i].y, f[i].w, f[i].h, {60, 50, 100, 200});
		}
		int lh, lw = label_width(labels[i], &lh);
		x_text(F_BUTTON, f[i].x + (f[i].w - lw) / 2, f[i].y + (f[i].h - lh) / 2, 0, label,
			labels[i]);
	}
}

// What a screen shows besides S.state: the parts that draw() reads from elsewhere.
struct Look {
	int needs_disc = 0;
	const char *msg = "";
	const char *logs = "";   // the logs directory
	const char *step = "";   // the working screen's whole step line
	const char *clock = "";  // the working screen's clock text
	int fill_x = 48;         // the working screen's gold fill: from fill_x,
	int fill_w = 0;          // fill_w pixels wide (none when 0 or less)
	const char *last = "";   // the working screen's last line
	int focus = 1;           // the index of the focused button
};

inline const char SETUP_TEXT[] =
	"The game is built on this computer, once, before its first run. It downloads the "
	"game's disc image and its 2.0 patch (630 MB), then builds the game from them.\n\n"
	"That takes 10 to 20 minutes and about 3 GB of space.";
inline const char UPDATE_TEXT[] =
	"This version needs the game rebuilt, which takes a few minutes. Your parks and saves "
	"are kept.";

// Paints the whole screen of state on R, as the launcher's screens are described.
inline void
expect_screen(int state, const Look &k)
{
	x_bands();
	const char *title = state == CHECKING || state == READY || state == CRASHED
		? "Brackenfold"
		: k.needs_disc ? "Set up Brackenfold" : "Updating Brackenfold";
	x_text(F_TITLE, 48, 48, 0, X_WHITE, title);
	const char *two[2] = {"Quit", nullptr};
	char logs[1200];
	switch (state) {
	case CHECKING:
		x_text(F_BODY, 48, 112, 0, X_SOFT, "Checking the game\u2026");
		return;
	case SETUP:
		x_text(F_BODY, 48, 112, 864, X_SOFT, SETUP_TEXT);
		two[1] = "Download and Build";
		break;
	case UPDATE:
		x_text(F_BODY, 48, 112, 864, X_SOFT, UPDATE_TEXT);
		two[1] = "Build";
		break;
	case WORKING: {
		x_text(F_BODY, 48, 112, 0, X_WHITE, k.step);
		int w = 0;
		if (F_BODY)
			(void)TTF_SizeUTF8(F_BODY, k.clock, &w, nullptr);
		x_text(F_BODY, 912 - w, 112, 0, X_DIM, k.clock);
		x_fill(48, 160, 864, 14, X_TRACK);
		if (k.fill_w > 0)
			x_fill(k.fill_x, 160, k.fill_w, 14, X_GOLD);
		x_text(F_SMALL, 48, 196, 0, X_DIM, k.last);
		x_text(F_SMALL, 48, 510, 0, X_DIM, "You can leave it running; it needs no help.");
		const char *cancel[1] = {"Cancel"};
		x_bar(1, cancel, k.focus);
		return;
	}
	case FAILED:
	case CRASHED:
		x_text(F_BODY, 48, 112, 864, X_WHITE, k.msg);
		snprintf(logs, sizeof logs, "The logs are in %s", k.logs);
		x_text(F_SMALL, 48, 222, 864, X_DIM, logs);
		two[1] = state == FAILED ? "Try Again" : "Play Again";
		break;
	case READY:
		x_text(F_BODY, 48, 112, 0, X_SOFT, "Ready to play. Version 1.5.6.");
		two[1] = "Play";
		break;
	default:
		return;
	}
	x_bar(2, two, k.focus);
}

inline Rgb
rgb_of(Uint32 p)
{
	return {(int)(p >> 16 & 255), (int)(p >> 8 & 255), (int)(p & 255)};
}

// Counts the pixels where a and b differ, and finds the first of them.
inline int
differ(const Uint32 (*a)[960], const Uint32 (*b)[960], int *fx = nullptr, int *fy = nullptr)
{
	int n = 0;
	for (int y = 0; y < 600; y++)
		for (int x = 0; x < 960; x++)
			if ((a[y][x] & 0xffffff) != (b[y][x] & 0xffffff) && n++ == 0 && fx) {
				*fx = x;
				*fy = y;
			}
	return n;
}

// The canvas as drawn, kept while the expected one is painted.
inline Uint32 GOT[600][960];

// Compares the picture in GOT with what paint() makes of the canvas; on a difference
// both pictures are saved under the test's temp dir and named in the failure.
template <class Paint>
inline void
expect_got(const char *what, Paint paint)
{
	paint();
	grab();
	int x = 0, y = 0;
	int n = differ(GOT, PX, &x, &y);
	if (!n)
		return;
	std::string name = what;
	for (char &c : name)
		if (!isalnum((unsigned char)c))
			c = '_';
	ADD_FAILURE() << what << ": " << n << " pixels differ, the first at (" << x << ", " << y
		<< "): got " << rgb_of(GOT[y][x]) << ", expected " << rgb(x, y) << ".\n  got: "
		<< save((name + "-got").c_str(), GOT)
		<< "\n  expected: " << save((name + "-expected").c_str());
}

// The same for the canvas just drawn.
template <class Paint>
inline void
expect_canvas(const char *what, Paint paint)
{
	grab();
	memcpy(GOT, PX, sizeof PX);
	expect_got(what, paint);
}

// Clears the canvas to black.
inline void
blank()
{
	(void)SDL_SetRenderDrawColor(R, 0, 0, 0, 255);
	(void)SDL_RenderClear(R);
}

}  // namespace bkf
