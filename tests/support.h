// support.h: the drawing canvas for GoogleTest programs linked to bkf_core, and the
// pictures the drawing tests expect of it. canvas_up() brings SDL up once per process
// through canvas(), the way a screenshot run does; a fixture derived from Canvas also
// resets S, the button bar and g_logs before each test. grab() reads the canvas into PX.
// A test states its picture as FLAT, the exact colour of every pixel that no text may
// touch (literal bands, rectangles and faces), and a list of texts, each expected by the
// region it inks; expect_texts() and expect_look() compare PX with that, and a failure
// saves the picture under the test's own temp dir (save()) and names it.
#pragma once

#include "launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace bkf {

// [SECTION] Canvas ------------------------------------------------------------------

// A pixel as its three colour channels; the canvas is opaque.
struct Rgb {
	int r, g, b;
	bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

inline std::ostream &
operator<<(std::ostream &os, const Rgb &c)
{
	return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

inline Rgb
rgb_of(Uint32 p)
{
	return {(int)(p >> 16 & 255), (int)(p >> 8 & 255), (int)(p & 255)};
}

// The last canvas read back, ARGB8888, row by row; KEPT holds a second picture.
inline Uint32 PX[600][960];
inline Uint32 KEPT[600][960];

// The fonts as load_fonts() found them; each test starts with these.
inline TTF_Font *LOADED[4];

inline void
canvas_up()
{
	static bool up;
	if (up)
		return;
	ASSERT_EQ(canvas(), 1) << SDL_GetError();
	LOADED[0] = F_TITLE;
	LOADED[1] = F_BODY;
	LOADED[2] = F_SMALL;
	LOADED[3] = F_BUTTON;
	up = true;
}

// Reads the whole canvas into PX.
inline void
grab()
{
	ASSERT_EQ(SDL_RenderReadPixels(R, nullptr, SDL_PIXELFORMAT_ARGB8888, PX, sizeof PX[0]), 0)
		<< SDL_GetError();
}

// Copies PX into KEPT, to compare it with a later picture.
inline void
keep()
{
	memcpy(KEPT, PX, sizeof PX);
}

inline Uint32 px(int x, int y) { return PX[y][x]; }
inline Rgb rgb(int x, int y) { return rgb_of(PX[y][x]); }

// Clears the canvas to black.
inline void
blank()
{
	(void)SDL_SetRenderDrawColor(R, 0, 0, 0, 255);
	(void)SDL_RenderClear(R);
}

// A directory of this test's own, made on first use: BKF_TEST_TMP/<Suite>.<Test>.
inline std::string
tmp_dir()
{
	const auto *t = ::testing::UnitTest::GetInstance()->current_test_info();
	std::string name = std::string(t->test_suite_name()) + "." + t->name();
	for (char &c : name)
		if (c == '/')
			c = '_';
	std::string dir = BKF_TEST_TMP;
	(void)mkdir(dir.c_str(), 0755);
	dir += "/" + name;
	if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
		ADD_FAILURE() << "cannot make " << dir << ": " << strerror(errno);
	return dir;
}

// Saves the pixels (PX unless told otherwise) as <tmp_dir>/<what>.bmp, every character
// of what but letters and digits made "_"; returns the path.
inline std::string
save(const char *what, const Uint32 (*pixels)[960] = PX)
{
	std::string name = what;
	for (char &c : name)
		if (!isalnum((unsigned char)c) && c != '-')
			c = '_';
	std::string path = tmp_dir() + "/" + name + ".bmp";
	SDL_Surface *s = SDL_CreateRGBSurfaceWithFormatFrom((void *)pixels, 960, 600, 32,
		sizeof PX[0], SDL_PIXELFORMAT_ARGB8888);
	if (!s || SDL_SaveBMP(s, path.c_str()) != 0)
		path = "(not saved: " + std::string(SDL_GetError()) + ")";
	SDL_FreeSurface(s);
	return path;
}

// Draws as if no font had been found.
inline void
fonts_off()
{
	F_TITLE = F_BODY = F_SMALL = F_BUTTON = nullptr;
}

// The fixture of every drawing test: SDL up, the fonts as loaded, state at its start
// values, an empty bar.
class Canvas : public ::testing::Test {
protected:
	void SetUp() override
	{
		canvas_up();
		if (HasFatalFailure())
			return;
		ASSERT_NE(LOADED[1], nullptr) << "no DejaVu Sans on this machine";
		F_TITLE = LOADED[0];
		F_BODY = LOADED[1];
		F_SMALL = LOADED[2];
		F_BUTTON = LOADED[3];
		reset_state();
		memset(B, 0, sizeof B);
		NB = 0;
		FOCUS = 0;
		snprintf(g_logs, sizeof g_logs, "%s", "/home/player/.local/share/brackenfold/logs");
	}
};

// [SECTION] Colours and flat regions ------------------------------------------------

constexpr Rgb RGB_WHITE = {255, 255, 255};
constexpr Rgb RGB_SOFT = {225, 220, 245};
constexpr Rgb RGB_DIM = {190, 185, 215};
constexpr Rgb RGB_GOLD = {255, 204, 51};    // progress fill, focus ring
constexpr Rgb RGB_TRACK = {30, 24, 60};
constexpr Rgb RGB_FACE = {250, 250, 250};   // the focused face
constexpr Rgb RGB_LABEL = {40, 30, 80};     // the label on the focused face
constexpr Rgb RGB_BLACK = {0, 0, 0};

// The 150 background bands, 4 rows each from y = 0, as the launcher paints them
// (read off its canvas once; Bands.TableAgreesWithTheNamedRows checks the table).
inline const Rgb BANDS[150] = {
	{64, 56, 140}, {65, 56, 139}, {66, 56, 139}, {67, 56, 139},  // y 0
	{68, 56, 139}, {69, 56, 139}, {70, 57, 139}, {72, 57, 139},  // y 16
	{73, 57, 138}, {74, 57, 138}, {75, 57, 138}, {76, 58, 138},  // y 32
	{77, 58, 138}, {78, 58, 138}, {80, 58, 138}, {81, 58, 138},  // y 48
	{82, 58, 137}, {83, 59, 137}, {84, 59, 137}, {85, 59, 137},  // y 64
	{86, 59, 137}, {88, 59, 137}, {89, 60, 137}, {90, 60, 136},  // y 80
	{91, 60, 136}, {92, 60, 136}, {93, 60, 136}, {94, 61, 136},  // y 96
	{96, 61, 136}, {97, 61, 136}, {98, 61, 136}, {99, 61, 135},  // y 112
	{100, 61, 135}, {101, 62, 135}, {102, 62, 135}, {104, 62, 135},  // y 128
	{105, 62, 135}, {106, 62, 135}, {107, 63, 134}, {108, 63, 134},  // y 144
	{109, 63, 134}, {111, 63, 134}, {112, 63, 134}, {113, 64, 134},  // y 160
	{114, 64, 134}, {115, 64, 134}, {116, 64, 133}, {117, 64, 133},  // y 176
	{119, 64, 133}, {120, 65, 133}, {121, 65, 133}, {122, 65, 133},  // y 192
	{123, 65, 133}, {124, 65, 132}, {125, 66, 132}, {127, 66, 132},  // y 208
	{128, 66, 132}, {129, 66, 132}, {130, 66, 132}, {131, 67, 132},  // y 224
	{132, 67, 132}, {133, 67, 131}, {135, 67, 131}, {136, 67, 131},  // y 240
	{137, 67, 131}, {138, 68, 131}, {139, 68, 131}, {140, 68, 131},  // y 256
	{141, 68, 130}, {143, 68, 130}, {144, 69, 130}, {145, 69, 130},  // y 272
	{146, 69, 130}, {147, 69, 130}, {148, 69, 130}, {150, 70, 130},  // y 288
	{148, 69, 129}, {146, 69, 128}, {145, 68, 127}, {143, 68, 126},  // y 304
	{142, 67, 126}, {140, 67, 125}, {138, 66, 124}, {137, 66, 123},  // y 320
	{135, 65, 122}, {134, 65, 122}, {132, 64, 121}, {130, 64, 120},  // y 336
	{129, 63, 119}, {127, 63, 118}, {126, 62, 118}, {124, 62, 117},  // y 352
	{122, 61, 116}, {121, 61, 115}, {119, 60, 114}, {118, 60, 114},  // y 368
	{116, 59, 113}, {114, 59, 112}, {113, 58, 111}, {111, 58, 110},  // y 384
	{110, 58, 110}, {108, 57, 109}, {106, 57, 108}, {105, 56, 107},  // y 400
	{103, 56, 106}, {102, 55, 106}, {100, 55, 105}, {98, 54, 104},  // y 416
	{97, 54, 103}, {95, 53, 102}, {94, 53, 102}, {92, 52, 101},  // y 432
	{90, 52, 100}, {89, 51, 99}, {87, 51, 98}, {85, 50, 98},  // y 448
	{84, 50, 97}, {82, 49, 96}, {81, 49, 95}, {79, 48, 94},  // y 464
	{77, 48, 94}, {76, 47, 93}, {74, 47, 92}, {73, 46, 91},  // y 480
	{71, 46, 90}, {69, 46, 90}, {68, 45, 89}, {66, 45, 88},  // y 496
	{65, 44, 87}, {63, 44, 86}, {62, 43, 86}, {60, 43, 85},  // y 512
	{58, 42, 84}, {57, 42, 83}, {55, 41, 82}, {54, 41, 82},  // y 528
	{52, 40, 81}, {50, 40, 80}, {49, 39, 79}, {47, 39, 78},  // y 544
	{46, 38, 78}, {44, 38, 77}, {42, 37, 76}, {41, 37, 75},  // y 560
	{39, 36, 74}, {38, 36, 74}, {36, 35, 73}, {34, 35, 72},  // y 576
	{33, 34, 71}, {31, 34, 70},  // y 592
};

// An unfocused face, 60, 50, 100 at alpha 200, over the bands at y = 488, 492, ... 548,
// as the renderer blends it (read off the canvas once, checked like the bands).
inline const Rgb FACE_OVER[16] = {
	{62, 49, 97}, {62, 48, 97}, {62, 48, 97}, {61, 48, 97},  // y 488
	{61, 48, 97}, {61, 48, 96}, {61, 48, 96}, {60, 48, 96},  // y 504
	{60, 48, 96}, {59, 48, 96}, {59, 48, 96}, {59, 48, 95},  // y 520
	{58, 47, 95}, {58, 47, 95}, {58, 47, 95}, {57, 47, 95},  // y 536
};

// The colour every pixel must have outside the texts.
inline Rgb FLAT[600][960];

inline void
flat_clear(Rgb c)
{
	for (auto &row : FLAT)
		std::fill(std::begin(row), std::end(row), c);
}

inline void
flat_bands()
{
	for (int y = 0; y < 600; y++)
		std::fill(std::begin(FLAT[y]), std::end(FLAT[y]), BANDS[y / 4]);
}

// r clipped to the canvas.
inline SDL_Rect
clip(SDL_Rect r)
{
	int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
	int x1 = std::min(r.x + r.w, 960), y1 = std::min(r.y + r.h, 600);
	return {x0, y0, std::max(x1 - x0, 0), std::max(y1 - y0, 0)};
}

inline void
flat_fill(SDL_Rect r, Rgb c)
{
	r = clip(r);
	for (int y = r.y; y < r.y + r.h; y++)
		std::fill(FLAT[y] + r.x, FLAT[y] + r.x + r.w, c);
}

// A button face at the bar's height: a focused one light inside a gold ring 4 pixels
// wide, any other the translucent dark of FACE_OVER.
inline void
flat_face(SDL_Rect r, bool focused)
{
	if (focused) {
		flat_fill({r.x - 4, r.y - 4, r.w + 8, r.h + 8}, RGB_GOLD);
		flat_fill(r, RGB_FACE);
		return;
	}
	EXPECT_TRUE(r.y == 488 && r.h == 64) << "FACE_OVER holds the bar's rows only";
	for (int y = 488; y < 552; y += 4)
		flat_fill({r.x, y, r.w, 4}, FACE_OVER[(y - 488) / 4]);
}

// [SECTION] Texts -------------------------------------------------------------------

// A text as it should appear. It may ink only its box: its measured size from (x, y),
// a single line cut at x = 920; a wrapped one as wide as its wrap width and as high as
// its lines. Its ink starts (and a single line's ends) where the font's glyph metrics
// put it, give or take a pixel: a shift of 2 is a fault. Some pixel of it is its colour
// exactly (a stem covers whole pixels). A text whose font is missing or whose string is
// empty is expected nowhere.
struct TextAt {
	TTF_Font **font;  // &F_BODY and so on, read when checked
	int x, y, wrap;
	Rgb colour;
	std::string s;
	int lines = 1;    // of a wrapped text
};

inline int
width_of(TTF_Font *f, const char *s, int *h = nullptr)
{
	int w = 0, hh = 0;
	if (f)
		(void)TTF_SizeUTF8(f, s, &w, &hh);
	if (h)
		*h = hh;
	return w;
}

inline int label_width(const char *s, int *h = nullptr) { return width_of(F_BUTTON, s, h); }

// The box a text may ink, on the canvas; empty when it is expected nowhere.
inline SDL_Rect
box_of(const TextAt &t)
{
	TTF_Font *f = *t.font;
	if (!f || t.s.empty())
		return {0, 0, 0, 0};
	int h, w = width_of(f, t.s.c_str(), &h);  // h: a line, with any glyph that reaches lower
	if (t.wrap) {
		w = t.wrap;
		h += (t.lines - 1) * TTF_FontLineSkip(f);
	} else if (t.x + w > 920) {
		w = 920 - t.x;
	}
	return clip({t.x, t.y, w, h});
}

// Where the font puts the ink of a text drawn at (x, y): the first glyph's left and
// right edges, the top of the tallest glyph and, for a single line, the last glyph's
// right edge.
struct Edges {
	int left, first_right, top, right;
};

inline Edges
edges_of(const TextAt &t)
{
	TTF_Font *f = *t.font;
	int top = 0, first = -1, first_right = 0, w = width_of(f, t.s.c_str()), adv = 0, maxx = 0;
	const unsigned char *p = (const unsigned char *)t.s.c_str();
	while (*p) {
		Uint32 cp = *p++;
		int more = cp >= 0xf0 ? 3 : cp >= 0xe0 ? 2 : cp >= 0xc0 ? 1 : 0;
		cp &= 0x7f >> more;
		while (more-- && *p)
			cp = cp << 6 | (*p++ & 0x3f);
		if (cp < ' ')
			continue;
		int minx, miny, maxy;
		if (TTF_GlyphMetrics32(f, cp, &minx, &maxx, &miny, &maxy, &adv) != 0)
			continue;
		if (first < 0) {
			first = std::max(minx, 0);
			first_right = maxx;
		}
		top = std::max(top, maxy);
	}
	return {t.x + std::max(first, 0), t.x + first_right - 1, t.y + TTF_FontAscent(f) - top,
		t.x + w - 1 - (adv - maxx)};
}

inline bool
inside(const SDL_Rect &r, int x, int y)
{
	return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

inline bool
overlap(const SDL_Rect &a, const SDL_Rect &b)
{
	return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

// FLAT as a picture in OUTLINE, each text's box outlined in magenta: what a failure
// was compared with.
inline Uint32 OUTLINE[600][960];

inline void
outline(const std::vector<TextAt> &texts)
{
	for (int y = 0; y < 600; y++)
		for (int x = 0; x < 960; x++)
			OUTLINE[y][x] = 0xff000000u | (Uint32)FLAT[y][x].r << 16 | (Uint32)FLAT[y][x].g << 8 |
				(Uint32)FLAT[y][x].b;
	for (const TextAt &t : texts) {
		SDL_Rect b = box_of(t);
		for (int y = b.y; y < b.y + b.h; y++)
			for (int x = b.x; x < b.x + b.w; x++)
				if (y == b.y || y == b.y + b.h - 1 || x == b.x || x == b.x + b.w - 1)
					OUTLINE[y][x] = 0xffff00ffu;
	}
}

// Compares got with FLAT and the texts: every pixel outside the boxes exactly, inside
// them between the flat colour and the inks that may reach it (give or take 2 for the
// blending), and each text as described at TextAt. A text whose box overlaps another's
// is not checked for where its ink starts and ends; a text whose first glyph is not
// wholly in its box (at the cut or off the canvas) only for staying inside it. On a
// failure, saves the picture as <what>.bmp and the expectation as <what>-expected.bmp.
inline bool
expect_texts(const char *what, const std::vector<TextAt> &texts,
	const Uint32 (*got)[960] = PX)
{
	std::vector<SDL_Rect> box;
	for (const TextAt &t : texts)
		box.push_back(box_of(t));
	std::vector<std::string> why;
	int off = 0;
	for (int y = 0; y < 600; y++)
		for (int x = 0; x < 960; x++) {
			Rgb c = rgb_of(got[y][x]), f = FLAT[y][x], lo = f, hi = f;
			bool in = false;
			for (size_t i = 0; i < texts.size(); i++)
				if (inside(box[i], x, y)) {
					const Rgb &k = texts[i].colour;
					lo = {std::min(lo.r, k.r), std::min(lo.g, k.g), std::min(lo.b, k.b)};
					hi = {std::max(hi.r, k.r), std::max(hi.g, k.g), std::max(hi.b, k.b)};
					in = true;
				}
			bool ok = in ? lo.r - 2 <= c.r && c.r <= hi.r + 2 && lo.g - 2 <= c.g &&
					c.g <= hi.g + 2 && lo.b - 2 <= c.b && c.b <= hi.b + 2
				: c == f;
			if (!ok && off++ < 5) {
				std::ostringstream m;
				m << "pixel (" << x << ", " << y << ") is " << c << ", expected " << f
				  << (in ? " or the ink of a text over it" : "");
				why.push_back(m.str());
			}
		}
	if (off > 5)
		why.push_back(std::to_string(off) + " pixels in all");
	for (size_t i = 0; i < texts.size(); i++) {
		const TextAt &t = texts[i];
		const SDL_Rect &b = box[i];
		if (!b.w || !b.h)
			continue;
		Edges want = edges_of(t);
		if (!inside(b, want.left, want.top) || !inside(b, want.first_right, want.top))
			continue;
		size_t n = std::min(t.s.size(), (size_t)40);
		while (n < t.s.size() && (t.s[n] & 0xc0) == 0x80)
			n--;  // not in the middle of a character
		std::string name = "\"" + t.s.substr(0, n) + (n < t.s.size() ? "...\"" : "\"");
		bool alone = true;
		for (size_t j = 0; j < texts.size(); j++)
			if (j != i && overlap(b, box[j]))
				alone = false;
		int l = 960, top = 600, r = -1, exact = 0;
		for (int y = b.y; y < b.y + b.h; y++)
			for (int x = b.x; x < b.x + b.w; x++) {
				Rgb c = rgb_of(got[y][x]);
				exact += c == t.colour;
				if (!(c == FLAT[y][x])) {
					l = std::min(l, x);
					r = std::max(r, x);
					top = std::min(top, y);
				}
			}
		std::ostringstream m;
		if (!exact)
			m << name << " has no pixel of its colour " << t.colour << "\n  ";
		if (alone && (abs(l - want.left) > 1 || abs(top - want.top) > 1))
			m << name << " starts at (" << l << ", " << top << "), expected (" << want.left
			  << ", " << want.top << ") or within 1\n  ";
		if (alone && !t.wrap && t.x + width_of(*t.font, t.s.c_str()) <= 920 &&
			abs(r - want.right) > 1)
			m << name << " ends at x = " << r << ", expected " << want.right
			  << " or within 1\n  ";
		if (!m.str().empty())
			why.push_back(m.str().substr(0, m.str().size() - 3));
	}
	if (why.empty())
		return true;
	std::string all;
	for (const std::string &w : why)
		all += "\n  " + w;
	outline(texts);
	std::string expected = save((std::string(what) + "-expected").c_str(), OUTLINE);
	ADD_FAILURE() << what << ":" << all << "\n  got: " << save(what, got)
		<< "\n  expected (text boxes in magenta): " << expected;
	return false;
}

// [SECTION] Screens -----------------------------------------------------------------

// A button as it should be painted; its label is centred on the face by the label's
// measured size, dark on a focused face and white on any other.
struct Face {
	SDL_Rect r;
	const char *label;
	bool focused;
};

struct Fill {
	SDL_Rect r;
	Rgb c;
};

// A screen: the bands, flat rectangles over them, the bar and the texts.
struct Look {
	std::vector<TextAt> texts = {};
	std::vector<Face> bar = {};    // leftmost first
	std::vector<Fill> fills = {};  // the progress track and its fill
};

// The bar's faces when both labels are narrower than 116: 180 wide, from x = 532.
constexpr SDL_Rect LEFT_FACE = {532, 488, 180, 64};
constexpr SDL_Rect RIGHT_FACE = {732, 488, 180, 64};

// Quit, then a focused right button as wide as its label needs (at least 180), by the
// label's measured width: 0 without the bold face.
inline std::vector<Face>
quit_and(const char *right)
{
	int w = std::max(label_width(right), 116) + 64;
	return {{{912 - w - 20 - 180, 488, 180, 64}, "Quit", false},
		{{912 - w, 488, w, 64}, right, true}};
}

// A wrapped text as the lines it should break into, each a single line of its own,
// skip pixels apart (the font's line skip: 28 for the body, 19 for the small font).
inline std::vector<TextAt>
lines_at(TTF_Font **f, int x, int y, int skip, Rgb c, const std::vector<std::string> &lines)
{
	std::vector<TextAt> v;
	for (size_t i = 0; i < lines.size(); i++)
		v.push_back({f, x, y + (int)i * skip, 0, c, lines[i]});
	return v;
}

// Several lists of texts as one.
inline std::vector<TextAt>
join(std::initializer_list<std::vector<TextAt>> parts)
{
	std::vector<TextAt> v;
	for (const auto &p : parts)
		v.insert(v.end(), p.begin(), p.end());
	return v;
}

inline TextAt title(const char *s) { return {&F_TITLE, 48, 48, 0, RGB_WHITE, s}; }

// The logs line of a folder whose name leaves it on one line.
inline TextAt
logs_line(const std::string &dir)
{
	return {&F_SMALL, 48, 222, 0, RGB_DIM, "The logs are in " + dir};
}

// The bodies of the setup and update screens, wrapped at 864 from x = 48.
inline std::vector<TextAt>
setup_text()
{
	return lines_at(&F_BODY, 48, 112, 28, RGB_SOFT, {
		"The game is built on this computer, once, before its first run. It",
		"downloads the game's disc image and its 2.0 patch (630 MB), then",
		"builds the game from them.",
		"",
		"That takes 10 to 20 minutes and about 3 GB of space.",
	});
}

inline std::vector<TextAt>
update_text()
{
	return lines_at(&F_BODY, 48, 112, 28, RGB_SOFT, {
		"This version needs the game rebuilt, which takes a few minutes. Your",
		"parks and saves are kept.",
	});
}
inline const char HINT[] = "You can leave it running; it needs no help.";

// The working screen: the step line, the clock ending at x = 912, the track with its
// gold fill, the last line, the hint and Cancel, focused.
inline Look
working_look(const char *heading, const std::string &step, const std::string &clock,
	SDL_Rect fill, const std::string &last)
{
	return {
		{title(heading), {&F_BODY, 48, 112, 0, RGB_WHITE, step},
			{&F_BODY, 912 - width_of(F_BODY, clock.c_str()), 112, 0, RGB_DIM, clock},
			{&F_SMALL, 48, 196, 0, RGB_DIM, last}, {&F_SMALL, 48, 510, 0, RGB_DIM, HINT}},
		{{RIGHT_FACE, "Cancel", true}},
		{{{48, 160, 864, 14}, RGB_TRACK}, {fill, RGB_GOLD}},
	};
}

// Compares got with the look of a screen, as expect_texts() does.
inline bool
expect_look(const char *what, const Look &k, const Uint32 (*got)[960] = PX)
{
	flat_bands();
	for (const Fill &f : k.fills)
		flat_fill(f.r, f.c);
	std::vector<TextAt> texts = k.texts;
	for (const Face &f : k.bar) {
		flat_face(f.r, f.focused);
		int lh, lw = label_width(f.label, &lh);
		texts.push_back({&F_BUTTON, f.r.x + (f.r.w - lw) / 2, f.r.y + (f.r.h - lh) / 2, 0,
			f.focused ? RGB_LABEL : RGB_WHITE, f.label});
	}
	return expect_texts(what, texts, got);
}

// [SECTION] Pictures compared -------------------------------------------------------

// Counts the pixels where a and b differ inside r (the canvas by default) and finds
// the first of them.
inline int
differ(const Uint32 (*a)[960], const Uint32 (*b)[960], SDL_Rect r = {0, 0, 960, 600},
	int *fx = nullptr, int *fy = nullptr)
{
	int n = 0;
	for (int y = r.y; y < r.y + r.h; y++)
		for (int x = r.x; x < r.x + r.w; x++)
			if ((a[y][x] & 0xffffff) != (b[y][x] & 0xffffff) && n++ == 0 && fx) {
				*fx = x;
				*fy = y;
			}
	return n;
}

// Expects two pictures to be the same; on a difference saves both and names them.
inline bool
expect_same(const char *what, const Uint32 (*a)[960], const char *a_is,
	const Uint32 (*b)[960], const char *b_is)
{
	int x = 0, y = 0, n = differ(a, b, {0, 0, 960, 600}, &x, &y);
	if (!n)
		return true;
	ADD_FAILURE() << what << ": " << n << " pixels differ, the first at (" << x << ", " << y
		<< "): " << rgb_of(a[y][x]) << " in " << a_is << ", " << rgb_of(b[y][x]) << " in "
		<< b_is << "\n  " << a_is << ": " << save((std::string(what) + "-" + a_is).c_str(), a)
		<< "\n  " << b_is << ": " << save((std::string(what) + "-" + b_is).c_str(), b);
	return false;
}

// Expects two pictures to differ inside r and nowhere else.
inline bool
expect_differ_within(const char *what, const Uint32 (*a)[960], const Uint32 (*b)[960],
	SDL_Rect r)
{
	int all = differ(a, b), in = differ(a, b, r);
	if (in && all == in)
		return true;
	ADD_FAILURE() << what << ": " << in << " pixels differ inside (" << r.x << ", " << r.y
		<< ", " << r.w << ", " << r.h << "), " << all - in << " outside; expected some "
		<< "inside and none outside\n  before: " << save((std::string(what) + "-a").c_str(), a)
		<< "\n  after: " << save((std::string(what) + "-b").c_str(), b);
	return false;
}

}  // namespace bkf
