// test_drawing_fonts.cpp: where font() looks for DejaVu Sans, and what the screens show
// when a face is missing. This program defines open() and TTF_OpenFontRW itself: the
// launcher's modules linked into it call these, which note every font path tried and
// the size asked for, and can refuse files (all, or the bold ones), before they hand on
// to the C library's and SDL2_ttf's own. The screens drawn with the faces that load
// are held to their flat parts and to the texts of those faces only.

#include "support.h"

#include <algorithm>
#include <cstdarg>
#include <fcntl.h>
#include <sys/stat.h>
#include <dlfcn.h>
#include <fstream>
#include <string>
#include <vector>

using namespace bkf;

namespace {

enum { REFUSE_NONE, REFUSE_ALL, REFUSE_BOLD, REFUSE_REGULAR };

std::vector<std::string> TRIED;  // every path asked for, in order
std::vector<int> SIZES;
std::vector<bool> OPENED;
int REFUSE;

}  // namespace

extern "C" int
open(const char *file, int flags, ...)
{
	using Open = int (*)(const char *, int, ...);
	static Open real = (Open)dlsym(RTLD_NEXT, "open");
	va_list ap;
	va_start(ap, flags);
	mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(ap, int) : 0;
	va_end(ap);
	if (!strstr(file, "/DejaVuSans"))
		return real(file, flags, mode);
	bool bold = strstr(file, "-Bold") != nullptr;
	int fd = -1;
	if (REFUSE == REFUSE_ALL || (REFUSE == REFUSE_BOLD && bold) ||
		(REFUSE == REFUSE_REGULAR && !bold))
		errno = ENOENT;
	else
		fd = real(file, flags, mode);
	TRIED.push_back(file);
	SIZES.push_back(0);
	OPENED.push_back(false);  // until it becomes a font
	return fd;
}

// Called only for a file that open() gave: whether it became a font, and at what size.
extern "C" TTF_Font *
TTF_OpenFontRW(SDL_RWops *src, int freesrc, int ptsize)
{
	using Open = TTF_Font *(*)(SDL_RWops *, int, int);
	static Open real = (Open)dlsym(RTLD_NEXT, "TTF_OpenFontRW");
	TTF_Font *f = real(src, freesrc, ptsize);
	if (!SIZES.empty()) {
		SIZES.back() = ptsize;
		OPENED.back() = f != nullptr;
	}
	return f;
}

namespace {

class Fonts : public Canvas {
protected:
	void SetUp() override
	{
		Canvas::SetUp();
		const char *v = getenv("BKF_FONTS");
		had = v != nullptr;
		if (v)
			old = v;
		unsetenv("BKF_FONTS");
		TRIED.clear();
		SIZES.clear();
		OPENED.clear();
		REFUSE = REFUSE_NONE;
	}
	void TearDown() override
	{
		REFUSE = REFUSE_NONE;
		if (had)
			setenv("BKF_FONTS", old.c_str(), 1);
		else
			unsetenv("BKF_FONTS");
	}
	// The index of the one path that opened, checking that it was the last one tried.
	static std::string opened()
	{
		for (size_t i = 0; i < OPENED.size(); i++)
			if (OPENED[i]) {
				EXPECT_EQ(i + 1, OPENED.size()) << "tried on after a face had opened";
				return TRIED[i];
			}
		return "(none)";
	}
	bool had = false;
	std::string old;
};

// Closes the fonts that a load_fonts() of the test opened, and puts the fixture's back.
void
close_fonts()
{
	for (TTF_Font **f : {&F_TITLE, &F_BODY, &F_SMALL, &F_BUTTON}) {
		if (*f && std::find(std::begin(LOADED), std::end(LOADED), *f) == std::end(LOADED))
			TTF_CloseFont(*f);
	}
	F_TITLE = LOADED[0];
	F_BODY = LOADED[1];
	F_SMALL = LOADED[2];
	F_BUTTON = LOADED[3];
}

const std::string FIXED[] = {"/usr/share/fonts/dejavu", "/usr/share/fonts/truetype/dejavu",
	"/usr/share/fonts/TTF", "/usr/share/fonts/dejavu-sans-fonts"};

// BKF_FONTS unset or empty: entry 1 is the first fixed directory, then the fixed ones.
TEST_F(Fonts, UnsetAndEmptyBkfFontsSearchTheFixedDirectories)
{
	REFUSE = REFUSE_ALL;  // to see the whole list
	for (const char *v : {(const char *)nullptr, ""}) {
		SCOPED_TRACE(v ? "BKF_FONTS empty" : "BKF_FONTS unset");
		if (v)
			setenv("BKF_FONTS", v, 1);
		for (int bold : {0, 1}) {
			TRIED.clear();
			OPENED.clear();
			EXPECT_EQ(font(bold, 24), nullptr);
			const char *file = bold ? "/DejaVuSans-Bold.ttf" : "/DejaVuSans.ttf";
			std::vector<std::string> want = {FIXED[0] + file};
			for (const std::string &d : FIXED)
				want.push_back(d + file);
			EXPECT_EQ(TRIED, want);
		}
	}
}

// A folder with only the regular face: the regular fonts come from it, the bold ones
// from the first fixed directory that has the bold file.
TEST_F(Fonts, FolderWithOnlyTheRegularFace)
{
	std::string dir = tmp_dir() + "/fonts";
	(void)mkdir(dir.c_str(), 0755);
	{
		std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
		ASSERT_TRUE(in) << "DejaVuSans.ttf is not in /usr/share/fonts/truetype/dejavu";
		std::ofstream out(dir + "/DejaVuSans.ttf", std::ios::binary);
		out << in.rdbuf();
	}
	setenv("BKF_FONTS", dir.c_str(), 1);
	struct Row {
		int bold, size;
		std::string from;
	} rows[] = {
		{1, 40, "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"},
		{0, 24, dir + "/DejaVuSans.ttf"},
		{0, 16, dir + "/DejaVuSans.ttf"},
		{1, 24, "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << (r.bold ? "bold " : "regular ") << r.size);
		TRIED.clear();
		OPENED.clear();
		SIZES.clear();
		TTF_Font *f = font(r.bold, r.size);
		ASSERT_NE(f, nullptr);
		EXPECT_EQ(opened(), r.from);
		EXPECT_EQ(TRIED[0], dir + (r.bold ? "/DejaVuSans-Bold.ttf" : "/DejaVuSans.ttf"));
		EXPECT_EQ(SIZES.back(), r.size);
		EXPECT_STREQ(TTF_FontFaceStyleName(f), r.bold ? "Bold" : "Book");
		TTF_CloseFont(f);
	}
	// load_fonts() asks in the order title, body, small, button, and warns of nothing.
	TRIED.clear();
	OPENED.clear();
	SIZES.clear();
	::testing::internal::CaptureStderr();
	load_fonts();
	EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
	std::vector<std::string> got;
	std::vector<int> sizes;
	for (size_t i = 0; i < TRIED.size(); i++)
		if (OPENED[i]) {
			got.push_back(TRIED[i]);
			sizes.push_back(SIZES[i]);
		}
	std::vector<std::string> want;
	for (const Row &r : rows)
		want.push_back(r.from);
	EXPECT_EQ(got, want);
	EXPECT_EQ(sizes, (std::vector<int>{40, 24, 16, 24}));
	close_fonts();
}

// A directory that does not exist, or a FIFO where the face should be (opened without
// waiting for a writer, and refused): tried, then the fixed directories. A value longer
// than the path buffer is not tried at all: a cut path would name another file.
TEST_F(Fonts, MissingOrOverlongBkfFontsFallsThrough)
{
	std::string longdir = "/" + std::string(2000, 'f');
	std::string fifo = tmp_dir() + "/fifo";
	(void)mkdir(fifo.c_str(), 0755);
	(void)unlink((fifo + "/DejaVuSans.ttf").c_str());
	ASSERT_EQ(mkfifo((fifo + "/DejaVuSans.ttf").c_str(), 0644), 0);
	struct Row {
		std::string value, first;
	} rows[] = {
		{"/nonexistent/fonts", "/nonexistent/fonts/DejaVuSans.ttf"},
		{longdir, FIXED[0] + "/DejaVuSans.ttf"},
		{"/tmp/100%s%n", "/tmp/100%s%n/DejaVuSans.ttf"},
		{fifo, fifo + "/DejaVuSans.ttf"},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(r.value.substr(0, 40));
		setenv("BKF_FONTS", r.value.c_str(), 1);
		TRIED.clear();
		OPENED.clear();
		TTF_Font *f = font(0, 24);
		ASSERT_NE(f, nullptr);
		EXPECT_EQ(TRIED[0], r.first);
		EXPECT_EQ(opened(), "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
		TTF_CloseFont(f);
	}
}

// Missing faces: only a missing body font is reported, with one line; every screen
// keeps what needs no text, and shows the texts of the faces that loaded.
TEST_F(Fonts, MissingFacesAndTheWarning)
{
	const char WARNING[] = "launcher: no DejaVu Sans font found; text will be missing\n";
	const char MSG[] = "The game stopped unexpectedly.";
	const std::string logs = g_logs;
	struct Row {
		const char *what;
		int refuse;
		bool title, body, small, button;
		const char *warning;
	} rows[] = {
		{"none at all", REFUSE_ALL, false, false, false, false, WARNING},
		{"no bold", REFUSE_BOLD, false, true, true, false, ""},
		{"no regular", REFUSE_REGULAR, true, false, false, true, WARNING},
		{"all there", REFUSE_NONE, true, true, true, true, ""},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(r.what);
		REFUSE = r.refuse;
		::testing::internal::CaptureStderr();
		load_fonts();
		EXPECT_EQ(::testing::internal::GetCapturedStderr(), r.warning);
		EXPECT_EQ(F_TITLE != nullptr, r.title);
		EXPECT_EQ(F_BODY != nullptr, r.body);
		EXPECT_EQ(F_SMALL != nullptr, r.small);
		EXPECT_EQ(F_BUTTON != nullptr, r.button);
		struct Screen {
			const char *what;
			int state;
			Look look;
		} screens[] = {
			{"checking", CHECKING,
				{{title("Brackenfold"),
					{&F_BODY, 48, 112, 0, RGB_SOFT, "Checking the game\u2026"}}}},
			{"setup", SETUP,
				{join({{title("Set up Brackenfold")}, setup_text()}),
					quit_and("Download and Build")}},
			{"update", UPDATE,
				{join({{title("Set up Brackenfold")}, update_text()}),
					{{LEFT_FACE, "Quit", false}, {RIGHT_FACE, "Build", true}}}},
			{"failed", FAILED,
				{{title("Set up Brackenfold"), {&F_BODY, 48, 112, 0, RGB_WHITE, MSG},
					logs_line(logs)},
					quit_and("Try Again")}},
			{"ready", READY,
				{{title("Brackenfold"),
					{&F_BODY, 48, 112, 0, RGB_SOFT, "Ready to play. Version 1.5.6."}},
					{{LEFT_FACE, "Quit", false}, {RIGHT_FACE, "Play", true}}}},
			{"crashed", CRASHED,
				{{title("Brackenfold"), {&F_BODY, 48, 112, 0, RGB_WHITE, MSG},
					logs_line(logs)},
					quit_and("Play Again")}},
		};
		for (const Screen &sc : screens) {
			std::string what = std::string(r.what) + ", " + sc.what;
			SCOPED_TRACE(sc.what);
			reset_state();
			S.state = sc.state;
			S.needs_disc = 1;
			snprintf(S.msg, sizeof S.msg, "%s", MSG);
			FOCUS = NO_FOCUS;
			draw();
			grab();
			expect_look(what.c_str(), sc.look);
			if (sc.state != CHECKING && !r.button) {
				EXPECT_EQ(B[NB - 1].w, 180) << "laid out as if the label were empty";
			}
		}
		close_fonts();
	}
}

}  // namespace
