// drawing.cpp: everything the launcher paints. draw() repaints the whole 960x600 canvas
// from the state record on every call, immediate mode: background bands, title, the
// body of the current screen, then the button bar that the body declared with buttons().
// Every text goes through text(), which renders, uploads and frees it within the call.

#include "launcher.h"

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// [SECTION] Globals -----------------------------------------------------------------

Button B[3];
int NB;
int FOCUS;

const SDL_Color WHITE = {255, 255, 255, 255};
const SDL_Color SOFT = {225, 220, 245, 255};
const SDL_Color DIM = {190, 185, 215, 255};

TTF_Font *F_TITLE;
TTF_Font *F_BODY;
TTF_Font *F_SMALL;
TTF_Font *F_BUTTON;

static const SDL_Color GOLD = {255, 204, 51, 255};  // progress fill and focus ring

// [SECTION] Fonts and text ----------------------------------------------------------

// The four faces: where each lives, its cut and its size at 1x.
static const struct {
	TTF_Font **f;
	int bold, size;
} FACES[] = {{&F_TITLE, 1, 40}, {&F_BODY, 0, 24}, {&F_SMALL, 0, 16}, {&F_BUTTON, 1, 24}};

// Text is rendered at the output's scale when the output is larger than the canvas (a
// HiDPI output, a large window, fullscreen): there the scaled faces draw, while the 1x
// faces still measure, so that the layout, the letterbox and hit testing stay in canvas
// pixels and the same at every scale.
static float SCALE = 1;                 // output pixels per canvas pixel; 1 at 960x600
static TTF_Font *SCALED[4];             // FACES at SCALE, or null at 1x
static char FACE_FILE[2][1100];         // the files the regular and the bold faces came from

// Opens one font file, without blocking on what the path names: only a regular file
// is read (a FIFO there would hold the launcher for ever, even through SIGTERM). A dpi
// of 0 opens it at 1x.
static TTF_Font *
open_font(const char *path, int size, unsigned dpi)
{
	int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return nullptr;
	struct stat st;
	FILE *f = nullptr;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(f = fdopen(fd, "rb"))) {
		(void)close(fd);
		return nullptr;
	}
	SDL_RWops *rw = SDL_RWFromFP(f, SDL_TRUE);
	if (!rw) {
		(void)fclose(f);
		return nullptr;
	}
	// The font owns the stream from here, or closes it.
	return dpi ? TTF_OpenFontDPIRW(rw, 1, size, dpi, dpi) : TTF_OpenFontRW(rw, 1, size);
}

// Returns the first DejaVu Sans face that opens, BKF_FONTS first. Each call searches on
// its own, so the regular and bold faces may come from different directories. A path
// that does not fit is skipped, never cut: a cut path names another file.
TTF_Font *
font(int bold, int size)
{
	static const char *dirs[] = {
		nullptr,  // BKF_FONTS, rewritten at every call
		"/usr/share/fonts/dejavu",
		"/usr/share/fonts/truetype/dejavu",
		"/usr/share/fonts/TTF",
		"/usr/share/fonts/dejavu-sans-fonts",
		nullptr,
	};
	char path[sizeof FACE_FILE[0]];

	dirs[0] = env_or("BKF_FONTS", "/usr/share/fonts/dejavu");
	for (const char **d = dirs; *d; d++) {
		int n = snprintf(path, sizeof path, "%s/%s", *d,
			bold ? "DejaVuSans-Bold.ttf" : "DejaVuSans.ttf");
		if (n <= 0 || (size_t)n >= sizeof path)
			continue;
		TTF_Font *f = open_font(path, size, 0);
		if (f) {
			memcpy(FACE_FILE[bold != 0], path, sizeof path);
			return f;
		}
	}
	return nullptr;
}

void
load_fonts()
{
	for (const auto &face : FACES)
		*face.f = font(face.bold, face.size);
	if (!F_BODY)
		fputs("launcher: no DejaVu Sans font found; text will be missing\n", stderr);
}

// Follows the renderer's output: at a new scale the scaled faces are opened anew from
// the files the 1x ones came from. Called before a frame is drawn.
void
fit_text()
{
	int w = 960, h = 600;
	if (!R || SDL_GetRendererOutputSize(R, &w, &h) != 0)
		return;
	float s = fminf((float)w / 960.0f, (float)h / 600.0f);
	if (!(s > 1.0f))
		s = 1.0f;  // a smaller output: the renderer shrinks the 1x picture
	if (s == SCALE)
		return;
	for (TTF_Font *&f : SCALED) {
		if (f)
			TTF_CloseFont(f);
		f = nullptr;
	}
	SCALE = s;
	if (s == 1.0f)
		return;
	unsigned dpi = (unsigned)lroundf(72.0f * s);  // SDL_ttf's 1x is 72 dots an inch
	for (size_t i = 0; i < sizeof FACES / sizeof FACES[0]; i++)
		if (*FACES[i].f)
			SCALED[i] = open_font(FACE_FILE[FACES[i].bold], FACES[i].size, dpi);
}

// The face that draws f's texts at the output's scale, and that scale.
static TTF_Font *
drawing_face(TTF_Font *f, float *scale)
{
	*scale = 1.0f;
	if (SCALE == 1.0f)
		return f;
	for (size_t i = 0; i < sizeof FACES / sizeof FACES[0]; i++)
		if (*FACES[i].f == f && SCALED[i]) {
			*scale = SCALE;
			return SCALED[i];
		}
	return f;
}

// Draws one formatted UTF-8 text with its top left corner at x, y. A wrap width of 0
// draws one line, cut at x = 920 at its natural size; any other width wraps there.
// At a scale above 1 the text is rendered at the output's resolution and placed in
// canvas coordinates, texel for pixel.
void
text(TTF_Font *f, int x, int y, int wrap, SDL_Color c, const char *fmt, ...)
{
	char buf[1024];
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(buf, sizeof buf, fmt, ap);
	va_end(ap);
	if (!f || !buf[0])
		return;

	float k;
	TTF_Font *face = drawing_face(f, &k);
	SDL_Surface *s = wrap
		? TTF_RenderUTF8_Blended_Wrapped(face, buf, c, (Uint32)lroundf((float)wrap * k))
		: TTF_RenderUTF8_Blended(face, buf, c);
	if (!s)
		return;
	SDL_Texture *t = SDL_CreateTextureFromSurface(R, s);
	if (t && k == 1.0f) {
		int w = s->w, h = s->h;
		if (!wrap && 920 - x < w)
			w = 920 - x;
		if (w > 0) {
			SDL_Rect src = {0, 0, w, h}, dst = {x, y, w, h};
			(void)SDL_RenderCopy(R, t, &src, &dst);
		}
	} else if (t) {
		SDL_Rect src = {0, 0, s->w, s->h};
		SDL_FRect dst = {(float)x, (float)y, (float)s->w / k, (float)s->h / k};
		if (!wrap && (float)(920 - x) < dst.w) {
			dst.w = (float)(920 - x);
			src.w = (int)lroundf(dst.w * k);
		}
		if (dst.w > 0)
			(void)SDL_RenderCopyF(R, t, &src, &dst);
	}
	if (t)
		SDL_DestroyTexture(t);
	SDL_FreeSurface(s);
}

// [SECTION] Button bar --------------------------------------------------------------

static void
measure(const char *label, int *w, int *h)
{
	*w = *h = 0;
	if (F_BUTTON)
		(void)TTF_SizeUTF8(F_BUTTON, label, w, h);
}

// Declares the bar: n pairs of a label and an action code, leftmost first, laid out
// from the right edge 912 leftwards. B holds three; a larger n keeps the first three
// pairs, and n <= 0 leaves an empty bar with the focus untouched.
void
buttons(int n, ...)
{
	constexpr int cap = (int)(sizeof B / sizeof B[0]);
	Button list[cap] = {};
	va_list ap;

	NB = 0;
	if (n <= 0)
		return;
	if (n > cap)
		n = cap;
	va_start(ap, n);
	for (int i = 0; i < n; i++) {
		list[i].label = va_arg(ap, const char *);
		list[i].action = va_arg(ap, int);
	}
	va_end(ap);

	int right = 912;
	for (int i = n - 1; i >= 0; i--) {
		int lw, lh;
		measure(list[i].label, &lw, &lh);
		list[i].w = (lw < 116 ? 116 : lw) + 64;
		list[i].h = 64;
		list[i].x = right - list[i].w;
		list[i].y = 488;
		right = list[i].x - 20;
	}
	memcpy(B, list, sizeof list[0] * (size_t)n);
	NB = n;
	if (FOCUS >= NB)
		FOCUS = NB - 1;
}

int
hit(int x, int y)
{
	for (int i = 0; i < NB; i++) {
		const Button *b = &B[i];
		if (b->x <= x && x < b->x + b->w && b->y <= y && y < b->y + b->h)
			return i;
	}
	return -1;
}

static void
fill(int x, int y, int w, int h, SDL_Color c)
{
	SDL_Rect r = {x, y, w, h};
	(void)SDL_SetRenderDrawColor(R, c.r, c.g, c.b, c.a);
	(void)SDL_RenderFillRect(R, &r);
}

static void
paint_bar()
{
	for (int i = 0; i < NB; i++) {
		const Button *b = &B[i];
		SDL_Color label;
		if (i == FOCUS) {
			fill(b->x - 4, b->y - 4, b->w + 8, b->h + 8, GOLD);
			fill(b->x, b->y, b->w, b->h, {250, 250, 250, 255});
			label = {40, 30, 80, 255};
		} else {
			fill(b->x, b->y, b->w, b->h, {60, 50, 100, 200});
			label = {255, 255, 255, 255};
		}
		int lw, lh;
		measure(b->label, &lw, &lh);
		text(F_BUTTON, b->x + (b->w - lw) / 2, b->y + (b->h - lh) / 2, 0, label, "%s",
			b->label);
	}
}

// [SECTION] Screens -----------------------------------------------------------------

// Whether the renderer's output is the canvas's own 960x600.
static int
fits_output()
{
	int w = 960, h = 600;
	(void)SDL_GetRendererOutputSize(R, &w, &h);
	return w == 960 && h == 600;
}

// 150 bands of 4 pixels; the order of the double operations fixes the exact colours.
// At a scale that is no whole number the renderer rounds each band's edges on its own,
// which would leave a seam of the clear colour between two: there each band reaches a
// pixel into the next, which paints over it.
static void
background()
{
	int h = SCALE == 1.0f && fits_output() ? 4 : 5;
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
		fill(0, y, 960, y < 596 ? h : 4, {(Uint8)r, (Uint8)g, (Uint8)b, 255});
	}
}

// Width of the determinate fill. A fill past the canvas looks the same however long it
// is, so the product is bounded in double before it is cut to an int.
int
fill_width(double progress)
{
	double w = progress * 864;
	if (w > 960)
		w = 960;
	return (int)w;
}

// The indeterminate sweep at a tick count: the segment from start to end (none when
// they are equal) of the track. It moves a pixel every 4 ms, 4320 ms a sweep: it grows
// out of the left end, runs 216 pixels long, and shrinks into the right end.
void
sweep(Uint32 ticks, int *start, int *end)
{
	unsigned f = ticks / 4 % 1080;
	*start = f >= 216 ? (int)f - 216 : 0;
	*end = f <= 864 ? (int)f : 864;
}

static void
working()
{
	if (S.steps)
		// TRANSLATORS: the build's step; the last %s is the installer's own label.
		text(F_BODY, 48, 112, 0, WHITE, tr("Step %d of %d: %s"), S.step, S.steps,
			S.step_label);
	else
		text(F_BODY, 48, 112, 0, WHITE, "%s", S.step_label);

	char clock[32];
	Uint32 e = SDL_GetTicks() - S.started_ms;
	snprintf(clock, sizeof clock, "%u:%02u", e / 60000, e / 1000 % 60);
	int w = 0;
	if (F_BODY)
		(void)TTF_SizeUTF8(F_BODY, clock, &w, nullptr);
	text(F_BODY, 912 - w, 112, 0, DIM, "%s", clock);

	fill(48, 160, 864, 14, {30, 24, 60, 255});
	if (S.progress >= 0) {
		// The software renderer paints an empty rectangle one pixel wide: skip it.
		int fw = fill_width(S.progress);
		if (fw > 0)
			fill(48, 160, fw, 14, GOLD);
	} else {
		int start, end;
		sweep(SDL_GetTicks(), &start, &end);
		if (start < end)
			fill(48 + start, 160, end - start, 14, GOLD);
	}

	text(F_SMALL, 48, 196, 0, DIM, "%s", S.last_line);
	// TRANSLATORS: under the progress bar, beside the Cancel button: keep it short.
	text(F_SMALL, 48, 510, 0, DIM, tr("You can leave it running; it needs no help."));
	// TRANSLATORS: a button that stops the build. Button labels must be short.
	buttons(1, tr("Cancel"), ACT_CANCEL);
}

static const char *
title()
{
	if (S.state == CHECKING || S.state == READY || S.state == CRASHED || S.blocked)
		return "Brackenfold";
	// TRANSLATORS: the title of a first-time setup; "Brackenfold" is the game's name.
	return S.needs_disc ? tr("Set up Brackenfold") : tr("Updating Brackenfold");
}

void
draw()
{
	// At an output of another shape than the canvas's, the bars beside it are black.
	if (SCALE != 1.0f || !fits_output()) {
		(void)SDL_SetRenderDrawColor(R, 0, 0, 0, 255);
		(void)SDL_RenderClear(R);
	}
	background();
	text(F_TITLE, 48, 48, 0, WHITE, "%s", title());

	switch (S.state) {
	case CHECKING:
		// TRANSLATORS: shown while the launcher asks whether the game is built.
		text(F_BODY, 48, 112, 0, SOFT, tr("Checking the game\u2026"));
		NB = 0;
		return;
	case SETUP:
		text(F_BODY, 48, 112, 864, SOFT,
			tr("The game is built on this computer, once, before its first run. It "
			   "downloads the game's disc image and its 2.0 patch (630 MB), then builds "
			   "the game from them.\n\nThat takes 10 to 20 minutes and about 3 GB of "
			   "space."));
		// TRANSLATORS: a button that ends the launcher. Button labels must be short.
		buttons(2, tr("Quit"), ACT_QUIT,
			// TRANSLATORS: a button: download the game's files, then build the game.
			tr("Download and Build"), ACT_BUILD);
		break;
	case UPDATE:
		text(F_BODY, 48, 112, 864, SOFT,
			tr("This version needs the game rebuilt, which takes a few minutes. Your "
			   "parks and saves are kept."));
		buttons(2, tr("Quit"), ACT_QUIT,
			// TRANSLATORS: a button, a verb: build the game again.
			tr("Build"), ACT_BUILD);
		break;
	case WORKING:
		working();
		break;
	case FAILED:
	case CRASHED:
		text(F_BODY, 48, 112, 864, WHITE, "%s", S.msg);
		// A failure that is no build's (a path, the claim) has nothing in the logs.
		if (!S.blocked && g_logs[0])
			// TRANSLATORS: %s is a folder.
			text(F_SMALL, 48, 222, 864, DIM, tr("The logs are in %s"), g_logs);
		if (S.state == FAILED)
			buttons(2, tr("Quit"), ACT_QUIT,
				// TRANSLATORS: a button: run the build (or the check) again.
				tr("Try Again"), ACT_RETRY);
		else
			buttons(2, tr("Quit"), ACT_QUIT,
				// TRANSLATORS: a button: start the game again after it crashed.
				tr("Play Again"), ACT_PLAY);
		break;
	case READY:
		// TRANSLATORS: one line; 1.5.6 is the game's version.
		text(F_BODY, 48, 112, 0, SOFT, tr("Ready to play. Version 1.5.6."));
		buttons(2, tr("Quit"), ACT_QUIT,
			// TRANSLATORS: a button, a verb: start the game.
			tr("Play"), ACT_PLAY);
		break;
	default:
		break;
	}
	paint_bar();
}
