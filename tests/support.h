// support.h: the drawing canvas for GoogleTest programs linked to bkf_core.
// canvas_up() brings SDL up once per process the way a screenshot run does: the dummy
// video driver, a hidden 960x600 window, the software renderer with the logical size
// 960x600 and alpha blending, and the four fonts from load_fonts(). A test derives its
// fixture from Canvas, which also resets S, the button bar and g_logs before each test.
// grab() reads the rendered canvas into PX; px() and rgb() look at one pixel of it;
// save() writes PX as a BMP under the test's own temp dir (tmp_dir()) and returns the
// path, for a failure message to name.
#pragma once

#include "launcher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace bkf {

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

// The last canvas read back, ARGB8888, row by row.
inline Uint32 PX[600][960];

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

inline Uint32 px(int x, int y) { return PX[y][x]; }

inline Rgb
rgb(int x, int y)
{
	Uint32 p = PX[y][x];
	return {(int)(p >> 16 & 255), (int)(p >> 8 & 255), (int)(p & 255)};
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

// Saves the pixels (PX unless told otherwise) as <tmp_dir>/<what>.bmp; returns the path.
inline std::string
save(const char *what, const Uint32 (*pixels)[960] = PX)
{
	std::string path = tmp_dir() + "/" + what + ".bmp";
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

}  // namespace bkf
