// test_drawing.cpp: the canvas that draw() paints, read back pixel by pixel: the
// background bands, the button bar (layout, hit test, focus, colours), text() and its
// cuts, every screen with and without fonts, and the directories the screens show.
// The working screen, which reads the clock, is in test_drawing_working.cpp.

#include "drawing_expect.h"

#include <climits>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace bkf;

namespace {

// [SECTION] Background --------------------------------------------------------------

class Bands : public Canvas {};

TEST_F(Bands, NamedRowsHaveTheirColours)
{
	struct Row {
		int y;
		Rgb c;
	} rows[] = {
		{0, {64, 56, 140}},
		{296, {148, 69, 130}},
		{300, {150, 70, 130}},
		{460, {85, 50, 98}},  // just below 86 in doubles
		{480, {77, 48, 94}},  // just below 78
		{500, {69, 46, 90}},  // just below 70
		{596, {31, 34, 70}},
	};
	fonts_off();
	draw();
	grab();
	for (const Row &row : rows) {
		SCOPED_TRACE(::testing::Message() << "band y = " << row.y);
		EXPECT_EQ(band(row.y), row.c) << "the test's own arithmetic";
		for (int y = row.y; y < row.y + 4; y++)
			for (int x : {0, 479, 959})
				ASSERT_EQ(rgb(x, y), row.c) << "at (" << x << ", " << y << ")";
	}
}

// Every band covers its four rows from edge to edge, whatever the canvas held before.
TEST_F(Bands, EveryBandCoversItsRowsAndReplacesTheLastFrame)
{
	fonts_off();
	(void)SDL_SetRenderDrawColor(R, 255, 0, 255, 255);
	(void)SDL_RenderClear(R);
	draw();
	grab();
	int bad = 0;
	for (int y0 = 0; y0 < 600; y0 += 4) {
		SCOPED_TRACE(::testing::Message() << "band y = " << y0);
		for (int y = y0; y < y0 + 4; y++)
			for (int x = 0; x < 960; x++)
				if (!(rgb(x, y) == band(y0)) && bad++ < 3)
					ADD_FAILURE() << "at (" << x << ", " << y << "): " << rgb(x, y)
						<< ", expected " << band(y0);
	}
	if (bad)
		ADD_FAILURE() << bad << " pixels off; the canvas is " << save("bands");
}

// [SECTION] Button bar ----------------------------------------------------------------

class Bar : public Canvas {};

// Declares a bar of n buttons from the first n (up to 4) labels and actions.
void
declare(int n, const char *const *l, const int *a)
{
	switch (n) {
	case 1:
		buttons(1, l[0], a[0]);
		break;
	case 2:
		buttons(2, l[0], a[0], l[1], a[1]);
		break;
	case 3:
		buttons(3, l[0], a[0], l[1], a[1], l[2], a[2]);
		break;
	case 4:
		buttons(4, l[0], a[0], l[1], a[1], l[2], a[2], l[3], a[3]);
		break;
	default:
		buttons(n);
		break;
	}
}

TEST_F(Bar, LayoutRunsFromTheRightEdgeLeftwards)
{
	const int W = label_width("Download and Build") + 64;  // the one wide label here
	ASSERT_GT(W, 180) << "\"Download and Build\" should be wider than 116";
	ASSERT_LT(label_width("Quit"), 116);
	struct Row {
		const char *what;
		int n;
		const char *labels[4];
		int nb;
		std::vector<SDL_Rect> faces;
	};
	const Row rows[] = {
		{"one short", 1, {"Cancel"}, 1, {{732, 488, 180, 64}}},
		{"two short", 2, {"Quit", "Play"}, 2, {{532, 488, 180, 64}, {732, 488, 180, 64}}},
		{"wide right", 2, {"Quit", "Download and Build"}, 2,
			{{912 - W - 20 - 180, 488, 180, 64}, {912 - W, 488, W, 64}}},
		{"wide left", 2, {"Download and Build", "Quit"}, 2,
			{{732 - 20 - W, 488, W, 64}, {732, 488, 180, 64}}},
		{"three", 3, {"A", "B", "C"}, 3,
			{{332, 488, 180, 64}, {532, 488, 180, 64}, {732, 488, 180, 64}}},
		{"four keep three", 4, {"A", "B", "C", "D"}, 3,
			{{332, 488, 180, 64}, {532, 488, 180, 64}, {732, 488, 180, 64}}},
		{"none", 0, {}, 0, {}},
		{"negative", -1, {}, 0, {}},
	};
	const int actions[4] = {ACT_QUIT, ACT_BUILD, ACT_PLAY, ACT_RETRY};
	for (const Row &row : rows) {
		SCOPED_TRACE(row.what);
		buttons(2, "Stale", 9, "Stale", 9);
		FOCUS = 0;
		declare(row.n, row.labels, actions);
		ASSERT_EQ(NB, row.nb);
		for (int i = 0; i < row.nb; i++) {
			SCOPED_TRACE(::testing::Message() << "button " << i);
			EXPECT_STREQ(B[i].label, row.labels[i]);
			EXPECT_EQ(B[i].action, actions[i]);
			EXPECT_EQ(B[i].x, row.faces[i].x);
			EXPECT_EQ(B[i].y, row.faces[i].y);
			EXPECT_EQ(B[i].w, row.faces[i].w);
			EXPECT_EQ(B[i].h, row.faces[i].h);
		}
		EXPECT_EQ(FOCUS, 0);
		EXPECT_EQ(hit(800, 500), row.nb ? row.nb - 1 : -1);
	}
}

// Faces are half-open; ring and gap belong to no button.
TEST_F(Bar, HitOnEdgesGapAndRing)
{
	buttons(2, "Quit", ACT_QUIT, "Play", ACT_PLAY);  // [532, 712) and [732, 912) x [488, 552)
	struct Row {
		int x, y, want;
	} rows[] = {
		{532, 488, 0}, {711, 551, 0}, {620, 520, 0},          // corners and middle
		{531, 520, -1}, {712, 520, -1},                       // left of it, its right edge
		{620, 487, -1}, {620, 552, -1},                       // above it, its bottom edge
		{720, 520, -1}, {731, 520, -1},                       // the gap
		{732, 488, 1}, {911, 551, 1}, {912, 520, -1},         // the right button
		{910, 485, -1}, {914, 520, -1}, {800, 554, -1},       // on the focus ring
		{729, 520, -1}, {-1, -1, -1}, {INT_MIN, INT_MAX, -1}, // far away
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << "point (" << r.x << ", " << r.y << ")");
		EXPECT_EQ(hit(r.x, r.y), r.want);
	}
	NB = 0;  // the checking screen: the stale entries are not hit
	EXPECT_EQ(hit(620, 520), -1);
	NB = -1;
	EXPECT_EQ(hit(620, 520), -1);
}

TEST_F(Bar, FocusIsClampedIntoTheBar)
{
	struct Row {
		int before, n, after;
	} rows[] = {
		{99, 2, 1}, {99, 1, 0}, {1, 1, 0}, {0, 2, 0}, {1, 2, 1}, {2, 2, 1},
		{99, 3, 2}, {-1, 2, -1}, {99, 0, 99}, {1, 0, 1}, {99, -1, 99}, {99, 4, 2},
	};
	const char *labels[4] = {"A", "B", "C", "D"};
	const int actions[4] = {1, 2, 3, 4};
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << "FOCUS " << r.before << ", " << r.n << " buttons");
		FOCUS = r.before;
		declare(r.n, labels, actions);
		EXPECT_EQ(FOCUS, r.after);
	}
}

// A pixel of the translucent face 60, 50, 100 at alpha 200 over the background.
Rgb
over(Rgb bg)
{
	auto mix = [](int s, int d) { return s * 200 / 255 + (255 - 200) * d / 255; };
	return {mix(60, bg.r), mix(50, bg.g), mix(100, bg.b)};
}

// v lies between a and b, give or take the rounding of the glyph blending.
bool
between(int v, int a, int b)
{
	return (a < b ? a : b) - 2 <= v && v <= (a > b ? a : b) + 2;
}

// Checks one painted button: ring (or none), face, label inside its own box.
void
check_button(const SDL_Rect &f, const char *label, bool focused)
{
	int lh, lw = label_width(label, &lh);
	SDL_Rect box = {f.x + (f.w - lw) / 2, f.y + (f.h - lh) / 2, lw, lh};
	Rgb ink = focused ? Rgb{40, 30, 80} : Rgb{255, 255, 255};
	int inked = 0, bad = 0;
	for (int y = f.y - 4; y < f.y + f.h + 4; y++)
		for (int x = f.x - 4; x < f.x + f.w + 4; x++) {
			Rgb got = rgb(x, y);
			bool face = x >= f.x && x < f.x + f.w && y >= f.y && y < f.y + f.h;
			bool in_box = x >= box.x && x < box.x + box.w && y >= box.y && y < box.y + box.h;
			Rgb flat = !face ? (focused ? Rgb{255, 204, 51} : band(y / 4 * 4))
				: focused ? Rgb{250, 250, 250} : over(band(y / 4 * 4));
			if (in_box) {
				// anti-aliased glyphs: between the face and the ink, and some of it ink
				bool ok = between(got.r, flat.r, ink.r) && between(got.g, flat.g, ink.g) &&
					between(got.b, flat.b, ink.b);
				if (abs(got.r - ink.r) + abs(got.g - ink.g) + abs(got.b - ink.b) <= 12)
					inked++;
				if (!ok && bad++ < 3)
					ADD_FAILURE() << "label pixel (" << x << ", " << y << ") " << got
						<< " is not between " << flat << " and " << ink;
			} else if (!(got == flat) && bad++ < 3) {
				ADD_FAILURE() << (face ? "face" : "ring") << " pixel (" << x << ", " << y
					<< ") is " << got << ", expected " << flat;
			}
		}
	EXPECT_GT(inked, 20) << "the label \"" << label << "\" is missing";
	if (bad)
		ADD_FAILURE() << "the canvas is " << save("bar");
}

// On the ready screen: the focused button gold-ringed and light with dark text, the
// other translucent and dark with white text; a focus outside the bar marks none.
TEST_F(Bar, FocusedAndUnfocusedColours)
{
	const SDL_Rect quit = {532, 488, 180, 64}, play = {732, 488, 180, 64};
	struct Row {
		int focus;
		bool quit_focused, play_focused;
	} rows[] = {{99, false, true}, {0, true, false}, {-1, false, false}};
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << "FOCUS " << r.focus);
		reset_state();
		S.state = READY;
		FOCUS = r.focus;
		draw();
		grab();
		check_button(quit, "Quit", r.quit_focused);
		check_button(play, "Play", r.play_focused);
	}
}

// [SECTION] text() --------------------------------------------------------------------

class Text : public Canvas {};

const char LONG_LINE[] =
	"Step 7 of 7: Compiling the recompiled sources of the whole game, one after another";

// A single line keeps its left part up to x = 920 at its natural size, and nothing of it
// lands at 920 or right of it.
TEST_F(Text, SingleLineIsCutAt920)
{
	std::string blocks;  // ink in every column, so that a cut one pixel off shows
	for (int i = 0; i < 80; i++)
		blocks += "\u2588";
	struct Row {
		const char *line;
		int x;
	};
	std::vector<Row> rows;
	for (const char *line : {LONG_LINE, blocks.c_str()})
		for (int x : {48, 300, 919, 920, 950, -40})
			rows.push_back({line, x});
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << "\"" << std::string(r.line).substr(0, 12)
			<< "...\" at x = " << r.x);
		int natural = 0;
		(void)TTF_SizeUTF8(F_BODY, r.line, &natural, nullptr);
		ASSERT_GT(r.x + natural, 920) << "the line must be wider than its room";
		blank();
		text(F_BODY, r.x, 300, 0, WHITE, "%s", r.line);
		grab();
		memcpy(GOT, PX, sizeof PX);
		blank();
		x_text(F_BODY, r.x, 300, 0, X_WHITE, r.line, false);  // not cut
		grab();
		int left_diff = 0, right_ink = 0, ref_right_ink = 0;
		for (int y = 0; y < 600; y++)
			for (int x = 0; x < 960; x++) {
				if (x < 920) {
					left_diff += (GOT[y][x] & 0xffffff) != (PX[y][x] & 0xffffff);
				} else {
					right_ink += (GOT[y][x] & 0xffffff) != 0;
					ref_right_ink += (PX[y][x] & 0xffffff) != 0;
				}
			}
		EXPECT_EQ(left_diff, 0) << "the left part differs; got " << save("cut", GOT);
		EXPECT_EQ(right_ink, 0) << "drawn at x >= 920; got " << save("cut", GOT);
		EXPECT_GT(ref_right_ink, 0) << "the uncut line should reach past 920";
	}
}

TEST_F(Text, WrappedTextIsNotCut)
{
	blank();
	text(F_BODY, 600, 300, 500, WHITE, "%s", LONG_LINE);
	expect_canvas("wrapped", [] {
		blank();
		x_text(F_BODY, 600, 300, 500, X_WHITE, LONG_LINE);
	});
	int ink = 0;
	for (int y = 300; y < 400; y++)
		for (int x = 920; x < 960; x++)
			ink += (GOT[y][x] & 0xffffff) != 0;
	EXPECT_GT(ink, 0) << "a wrapped line should reach past 920";
}

TEST_F(Text, NothingDrawnForAnEmptyTextOrNoFont)
{
	blank();
	text(F_BODY, 48, 112, 0, WHITE, "%s", "");
	text(F_BODY, 48, 112, 864, WHITE, "%s", "");
	text(F_BODY, 48, 112, 0, WHITE, "%.0s", "cut to nothing");
	text(nullptr, 48, 112, 0, WHITE, "%s", "no font");
	text(nullptr, 48, 112, 864, WHITE, "%s", "no font");
	expect_canvas("empty", [] { blank(); });
}

// Outside texts reach the canvas as characters, "%" included.
TEST_F(Text, PercentInAnArgumentIsDrawn)
{
	for (const char *s : {"100%s%n", "%d%%%x", "%"}) {
		SCOPED_TRACE(s);
		blank();
		text(F_BODY, 48, 300, 0, WHITE, "%s", s);
		expect_canvas(s, [s] {
			blank();
			x_text(F_BODY, 48, 300, 0, X_WHITE, s);
		});
	}
}

// The formatted text is cut to its first 1023 bytes.
TEST_F(Text, LongTextIsCutTo1023Bytes)
{
	char s[1200];
	for (size_t i = 0; i < sizeof s - 1; i++)
		s[i] = i % 10 == 9 ? ' ' : (char)('a' + i % 10);  // byte 1022 is 'c', 1023 'd'
	s[sizeof s - 1] = '\0';
	blank();
	text(F_SMALL, 0, 0, 960, WHITE, "%s", s);
	expect_canvas("1023 bytes", [&s] {
		char cut[1024];
		snprintf(cut, sizeof cut, "%.1023s", s);
		blank();
		x_text(F_SMALL, 0, 0, 960, X_WHITE, cut);
	});
	// and one byte more would show: the comparison can tell them apart
	char more[1025];
	snprintf(more, sizeof more, "%.1024s", s);
	blank();
	x_text(F_SMALL, 0, 0, 960, X_WHITE, more);
	grab();
	EXPECT_GT(differ(GOT, PX), 0);
}

// [SECTION] Screens -----------------------------------------------------------------

class Screens : public Canvas {};

// Every screen but the working one (test_drawing_working.cpp), pixel for pixel, with
// the fonts and without any: without them the bands, bars and faces stay.
TEST_F(Screens, EveryScreenAsDescribed)
{
	const char LOGS[] = "/home/player/.local/share/brackenfold/logs";
	const char PCT_LOGS[] = "/home/100%s%n/logs";
	const char LONG_LOGS[] = "/home/player/a data directory with a long name that runs on and "
		"on/past the right edge of the window, so that the logs line has to wrap/logs";
	const char LONG_MSG[] =
		"The installer stopped: a message long enough to wrap over more lines than fit "
		"above the logs line, which is drawn over it at its own height whatever the "
		"message's length, so that the player can always read where the logs are kept.";
	struct Row {
		const char *what;
		int state, needs_disc;
		const char *msg, *logs;
		int nb;
	} rows[] = {
		{"checking", CHECKING, 0, "", LOGS, 0},
		{"setup", SETUP, 1, "", LOGS, 2},
		{"update", UPDATE, 0, "", LOGS, 2},
		{"failed first-time", FAILED, 1, "The disc image did not download.", LOGS, 2},
		{"failed update", FAILED, 0, "The build stopped (exit 2). Its log has the details.",
			LOGS, 2},
		{"failed percent", FAILED, 0, "100%s%n", PCT_LOGS, 2},
		{"failed long", FAILED, 1, LONG_MSG, LOGS, 2},
		{"failed long logs", FAILED, 1, "The build could not start.", LONG_LOGS, 2},
		{"ready", READY, 0, "", LOGS, 2},
		{"ready needs disc", READY, 1, "", LOGS, 2},
		{"crashed", CRASHED, 1, "The game stopped unexpectedly.", LOGS, 2},
	};
	for (bool fonts : {true, false}) {
		for (const Row &r : rows) {
			std::string what = std::string(r.what) + (fonts ? "" : " without fonts");
			SCOPED_TRACE(what);
			F_TITLE = fonts ? LOADED[0] : nullptr;
			F_BODY = fonts ? LOADED[1] : nullptr;
			F_SMALL = fonts ? LOADED[2] : nullptr;
			F_BUTTON = fonts ? LOADED[3] : nullptr;
			reset_state();
			S.state = r.state;
			S.needs_disc = r.needs_disc;
			snprintf(S.msg, sizeof S.msg, "%s", r.msg);
			snprintf(g_logs, sizeof g_logs, "%s", r.logs);
			buttons(2, "Stale", 9, "Stale", 9);
			FOCUS = NO_FOCUS;
			draw();
			EXPECT_EQ(NB, r.nb);
			EXPECT_EQ(FOCUS, r.nb ? r.nb - 1 : NO_FOCUS);
			if (!r.nb)
				EXPECT_EQ(hit(820, 520), -1);
			else
				EXPECT_EQ(hit(820, 520), 1);
			Look k;
			k.needs_disc = r.needs_disc;
			k.msg = r.msg;
			k.logs = r.logs;
			expect_canvas(what.c_str(), [&] { expect_screen(r.state, k); });
		}
	}
}

// draw() reads the state and leaves it alone.
TEST_F(Screens, DrawingLeavesTheStateAlone)
{
	for (int st : {CHECKING, SETUP, UPDATE, WORKING, FAILED, READY, CRASHED}) {
		SCOPED_TRACE(st);
		reset_state();
		S.state = st;
		S.progress = 0.5;
		snprintf(S.msg, sizeof S.msg, "%s", "message");
		static State before;
		before = S;
		draw();
		EXPECT_EQ(memcmp(&before, &S, sizeof S), 0);
	}
}

// [SECTION] Directories -------------------------------------------------------------

class Dirs : public ::testing::Test {
protected:
	void SetUp() override
	{
		for (const char *v : VARS)
			saved.push_back(getenv(v) ? std::string("=") + getenv(v) : std::string());
	}
	void TearDown() override
	{
		for (size_t i = 0; i < std::size(VARS); i++)
			set(VARS[i], saved[i].empty() ? nullptr : saved[i].c_str() + 1);
	}
	static void set(const char *name, const char *v)
	{
		if (v)
			setenv(name, v, 1);
		else
			unsetenv(name);
	}
	static constexpr const char *VARS[] = {"BKF_HOME", "XDG_DATA_HOME", "HOME", "BKF_SHARE",
		"BKF_PYTHON"};
	std::vector<std::string> saved;
};

// Each variable set, empty or unset (null); an empty value counts as unset.
TEST_F(Dirs, HomeFromBkfHomeThenXdgThenHome)
{
	const char *U = nullptr;
	struct Row {
		const char *bkf_home, *xdg, *home, *want;
	} rows[] = {
		{"/b", "/x", "/h", "/b"},
		{"/b", U, U, "/b"},
		{"", "/x", "/h", "/x/brackenfold"},
		{U, "/x", "/h", "/x/brackenfold"},
		{U, "", "/h", "/h/.local/share/brackenfold"},
		{"", "", "/h", "/h/.local/share/brackenfold"},
		{U, U, "/h", "/h/.local/share/brackenfold"},
		// Without HOME, the user's home from the system's user database: never "./".
		{U, U, "", "~/.local/share/brackenfold"},
		{U, U, U, "~/.local/share/brackenfold"},
		{"", "", "", "~/.local/share/brackenfold"},
		// What the player sets is used as given, relative or not.
		{"rel/dir", U, U, "rel/dir"},
		{U, "rel", U, "rel/brackenfold"},
		{U, U, "rel", "rel/.local/share/brackenfold"},
		{"/b%s%n", U, U, "/b%s%n"},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << "BKF_HOME " << (r.bkf_home ? r.bkf_home : "unset")
			<< ", XDG_DATA_HOME " << (r.xdg ? r.xdg : "unset") << ", HOME "
			<< (r.home ? r.home : "unset"));
		set("BKF_HOME", r.bkf_home);
		set("XDG_DATA_HOME", r.xdg);
		set("HOME", r.home);
		std::string want = r.want;
		if (want[0] == '~')
			want = getpwuid(getuid())->pw_dir + want.substr(1);
		EXPECT_EQ(resolve_dirs(), 1);
		EXPECT_EQ(std::string(g_home), want);
		EXPECT_EQ(std::string(g_logs), want + "/logs");
	}
}

// No HOME and no home in the user database (a user id without an entry): the failure
// screen says so, and no directory string is left to make anything from.
TEST_F(Dirs, NoHomeAnywhere)
{
	set("BKF_HOME", nullptr);
	set("XDG_DATA_HOME", nullptr);
	set("HOME", nullptr);
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		(void)close(p[0]);
		uid_t nobody = 54321;  // no entry in the user database
		if (getpwuid(nobody) || setuid(nobody) != 0)
			_exit(2);
		reset_state();
		int ok = resolve_dirs();
		char out[700];
		int n = snprintf(out, sizeof out, "%d %d %d %d|%s|%s", ok, S.state, S.blocked,
			(int)strlen(g_home), g_logs, S.msg);
		(void)!write(p[1], out, (size_t)n);
		_exit(0);
	}
	(void)close(p[1]);
	char got[700] = {};
	ssize_t n = 0, k;
	while ((k = read(p[0], got + n, sizeof got - 1 - (size_t)n)) > 0)
		n += k;
	(void)close(p[0]);
	int st;
	ASSERT_EQ(waitpid(pid, &st, 0), pid);
	ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "the child could not become user 54321";
	EXPECT_EQ(std::string(got), std::to_string(0) + " " + std::to_string(FAILED) + " 1 0||" +
		"No home folder is known: HOME is not set, and the system has none for this user. "
		"Set HOME or BKF_HOME.");
}

TEST_F(Dirs, ShareAndPythonFallBackWhenUnsetOrEmpty)
{
	struct Row {
		const char *value, *share, *python;
	} rows[] = {
		{nullptr, "/app/share/brackenfold", "/app/venv/bin/python3"},
		{"", "/app/share/brackenfold", "/app/venv/bin/python3"},
		{"/opt/x", "/opt/x", "/opt/x"},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(r.value ? r.value : "unset");
		set("BKF_SHARE", r.value);
		set("BKF_PYTHON", r.value);
		resolve_dirs();
		EXPECT_STREQ(g_share, r.share);
		EXPECT_STREQ(g_python, r.python);
	}
	set("BKF_SHARE", "");
	const char *fallback = "fallback";
	EXPECT_EQ(env_or("BKF_SHARE", fallback), fallback);
	set("BKF_SHARE", nullptr);
	EXPECT_EQ(env_or("BKF_SHARE", fallback), fallback);
	EXPECT_EQ(env_or("BKF_SHARE", nullptr), nullptr);
}

// A value longer than its buffer is refused, never cut: the failure screen names the
// path, the refused string stays empty, and a value that just fits is taken whole.
// Here the cut would fall on a "/": it would name the parent of the folder asked for.
TEST_F(Dirs, LongValuesAreRefused)
{
	std::string fits = "/" + std::string(1021, 'd') + "/";  // 1023 bytes
	std::string cut_on_slash = fits + "game";                // cut at 1023: the parent
	std::string xdg_fits = "/" + std::string(1023 - 1 - 12, 'x');
	auto home_msg = [](int n) {
		return "The path of the data folder is too long: " + std::to_string(n) +
			" bytes, and at most 1023 fit. Set BKF_HOME to a shorter one.";
	};
	struct Row {
		const char *name, *var;
		std::string value;
		int ok;
		std::string msg;
	} rows[] = {
		{"BKF_HOME that fits", "BKF_HOME", fits, 1, ""},
		{"BKF_HOME cut on a slash", "BKF_HOME", cut_on_slash, 0, home_msg(1027)},
		{"XDG_DATA_HOME that fits", "XDG_DATA_HOME", xdg_fits, 1, ""},
		{"XDG_DATA_HOME one too long", "XDG_DATA_HOME", xdg_fits + "x", 0, home_msg(1024)},
		{"HOME too long", "HOME", fits, 0, home_msg(1023 + 25)},
		{"BKF_SHARE that fits", "BKF_SHARE", fits, 1, ""},
		{"BKF_SHARE too long", "BKF_SHARE", cut_on_slash, 0,
			"The path of the app's files (BKF_SHARE) is too long: 1027 bytes, and at most "
			"1023 fit."},
		{"BKF_PYTHON too long", "BKF_PYTHON", std::string(3000, 'p'), 0,
			"The path of the Python interpreter (BKF_PYTHON) is too long: 3000 bytes, and at "
			"most 1023 fit."},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(r.name);
		for (const char *v : VARS)
			set(v, nullptr);
		set("HOME", "/h");
		set(r.var, r.value.c_str());
		reset_state();
		EXPECT_EQ(resolve_dirs(), r.ok);
		const char *got = !strcmp(r.var, "BKF_SHARE") ? g_share
			: !strcmp(r.var, "BKF_PYTHON") ? g_python : g_home;
		if (r.ok) {
			EXPECT_EQ(strlen(got), r.value.size() + (!strcmp(r.var, "XDG_DATA_HOME") ? 12 : 0));
			EXPECT_EQ(S.state, CHECKING);
			continue;
		}
		EXPECT_EQ(std::string(S.msg), r.msg);
		EXPECT_EQ(S.state, FAILED);
		EXPECT_EQ(S.blocked, 1);
		EXPECT_STREQ(got, "");
		if (got == g_home) {
			EXPECT_STREQ(g_logs, "");
		}
	}
}

}  // namespace
