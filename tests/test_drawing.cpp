// test_drawing.cpp: the canvas that draw() paints, read back pixel by pixel and held to
// what each part should look like: the background bands and the button faces as literal
// colours and rectangles, the bar's layout, hit test and focus, text() and its cuts by
// the region each text inks, every screen with and without fonts, and the directories
// the screens show. The working screen, which reads the clock, is in
// test_drawing_working.cpp.

#include "support.h"

#include <climits>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace bkf;

namespace {

// [SECTION] Background --------------------------------------------------------------

class Bands : public Canvas {};

// The literal table holds the colours the description names, the three rows where the
// double arithmetic falls just below a whole number among them.
TEST_F(Bands, TableAgreesWithTheNamedRows)
{
	struct Row {
		int y;
		Rgb c;
	} rows[] = {
		{0, {64, 56, 140}},
		{296, {148, 69, 130}},
		{300, {150, 70, 130}},
		{460, {85, 50, 98}},  // 86 in exact arithmetic
		{480, {77, 48, 94}},  // 78
		{500, {69, 46, 90}},  // 70
		{596, {31, 34, 70}},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << "band y = " << r.y);
		EXPECT_EQ(BANDS[r.y / 4], r.c);
	}
}

// The canvas is the table, band for band and edge to edge, whatever the last frame left.
TEST_F(Bands, CanvasIsTheTable)
{
	fonts_off();
	(void)SDL_SetRenderDrawColor(R, 255, 0, 255, 255);
	(void)SDL_RenderClear(R);
	S.state = CHECKING;
	draw();
	grab();
	flat_bands();
	expect_texts("bands", {});
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

// The literal face table is 60, 50, 100 at alpha 200 over each band of the bar, to
// within the renderer's rounding (it cuts each of the two terms).
TEST_F(Bar, FaceTableIsTheTranslucentFaceOverTheBands)
{
	for (int i = 0; i < 16; i++) {
		SCOPED_TRACE(::testing::Message() << "band y = " << 488 + 4 * i);
		Rgb band = BANDS[(488 + 4 * i) / 4], got = FACE_OVER[i];
		auto mix = [](int s, int d) { return (s * 200 + d * 55) / 255.0; };
		EXPECT_NEAR(got.r, mix(60, band.r), 2);
		EXPECT_NEAR(got.g, mix(50, band.g), 2);
		EXPECT_NEAR(got.b, mix(100, band.b), 2);
	}
}

// On the ready screen: the focused button gold-ringed and light with a dark label, the
// other translucent and dark with a white one; a focus outside the bar marks none.
TEST_F(Bar, FocusedAndUnfocusedColours)
{
	struct Row {
		const char *what;
		int focus;
		bool quit, play;  // focused
	} rows[] = {
		{"focus 99", 99, false, true},
		{"focus 0", 0, true, false},
		{"focus -1", -1, false, false},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(r.what);
		S.state = READY;
		FOCUS = r.focus;
		draw();
		grab();
		expect_look(r.what, {
			{title("Brackenfold"),
				{&F_BODY, 48, 112, 0, RGB_SOFT, "Ready to play. Version 1.5.6."}},
			{{LEFT_FACE, "Quit", r.quit}, {RIGHT_FACE, "Play", r.play}},
		});
	}
}

// [SECTION] text() --------------------------------------------------------------------

class Text : public Canvas {};

const char LONG_LINE[] =
	"Step 7 of 7: Compiling the recompiled sources of the whole game, one after another";

// A single line keeps its left part up to x = 920 at its natural size: it is the same
// line drawn wrapped, which is never cut, left of 920, and nothing of it lands at 920 or
// right of it.
TEST_F(Text, SingleLineIsCutAt920)
{
	std::string blocks;  // ink in every column, so that a cut one pixel off shows
	for (int i = 0; i < 80; i++)
		blocks += "\u2588";
	struct Row {
		const char *name, *line;
		int x;
	};
	std::vector<Row> rows;
	for (int x : {48, 300, 919, 920, 950, -40}) {
		rows.push_back({"line", LONG_LINE, x});
		rows.push_back({"blocks", blocks.c_str(), x});
	}
	for (const Row &r : rows) {
		std::string what = std::string(r.name) + " at x = " + std::to_string(r.x);
		SCOPED_TRACE(what);
		ASSERT_GT(r.x + width_of(F_BODY, r.line), 920) << "the line must be wider than its room";
		blank();
		text(F_BODY, r.x, 300, 4000, WHITE, "%s", r.line);
		grab();
		keep();
		blank();
		text(F_BODY, r.x, 300, 0, WHITE, "%s", r.line);
		grab();
		flat_clear(RGB_BLACK);
		expect_texts(what.c_str(), {{&F_BODY, r.x, 300, 0, RGB_WHITE, r.line}});
		int left = differ(PX, KEPT, {0, 0, 920, 600});
		int beyond = differ(KEPT, PX, {920, 0, 40, 600});
		EXPECT_EQ(left, 0) << "not the uncut line left of 920; got " << save(what.c_str())
			<< ", uncut " << save((what + "-uncut").c_str(), KEPT);
		EXPECT_GT(beyond, 0) << "the uncut line should reach past 920";
		if (!strcmp(r.name, "blocks") && r.x < 920) {  // they reach the cut
			EXPECT_NE(px(919, 310) & 0xffffff, 0u) << "cut before 919; got " << save(what.c_str());
		}
	}
}

TEST_F(Text, WrappedTextIsNotCut)
{
	blank();
	text(F_BODY, 600, 300, 500, WHITE, "%s", LONG_LINE);
	grab();
	flat_clear(RGB_BLACK);
	expect_texts("wrapped", {{&F_BODY, 600, 300, 500, RGB_WHITE, LONG_LINE, 3}});
	int ink = 0;
	for (int y = 300; y < 384; y++)
		for (int x = 920; x < 960; x++)
			ink += (px(x, y) & 0xffffff) != 0;
	EXPECT_GT(ink, 0) << "a wrapped line should reach past 920; got " << save("wrapped");
}

TEST_F(Text, NothingDrawnForAnEmptyTextOrNoFont)
{
	blank();
	text(F_BODY, 48, 112, 0, WHITE, "%s", "");
	text(F_BODY, 48, 112, 864, WHITE, "%s", "");
	text(F_BODY, 48, 112, 0, WHITE, "%.0s", "cut to nothing");
	text(nullptr, 48, 112, 0, WHITE, "%s", "no font");
	text(nullptr, 48, 112, 864, WHITE, "%s", "no font");
	grab();
	flat_clear(RGB_BLACK);
	expect_texts("empty", {});
}

// Outside texts reach the canvas as characters, "%" included: the line is as wide as
// the text itself measures.
TEST_F(Text, PercentInAnArgumentIsDrawn)
{
	for (const char *s : {"100%s%n", "%d%%%x", "%"}) {
		SCOPED_TRACE(s);
		blank();
		text(F_BODY, 48, 300, 0, WHITE, "%s", s);
		grab();
		flat_clear(RGB_BLACK);
		expect_texts(s, {{&F_BODY, 48, 300, 0, RGB_WHITE, s}});
	}
}

// The formatted text is cut to its first 1023 bytes: after 1021 blanks, bytes 1022 and
// 1023 ("ab") are drawn and what follows them is not.
TEST_F(Text, LongTextIsCutTo1023Bytes)
{
	std::string blanks(1021, ' ');
	std::string s = blanks + "ab" + "cdefghij";
	int x = 100 - width_of(F_SMALL, blanks.c_str());
	blank();
	text(F_SMALL, x, 300, 0, WHITE, "%s", s.c_str());
	grab();
	flat_clear(RGB_BLACK);
	expect_texts("1023 bytes", {{&F_SMALL, 100, 300, 0, RGB_WHITE, "ab"}});
}

// [SECTION] Screens -----------------------------------------------------------------

class Screens : public Canvas {};

const char LOGS[] = "/home/player/.local/share/brackenfold/logs";
const char LONG_MSG[] =
	"The installer stopped: a message long enough to wrap over more lines than fit "
	"above the logs line, which is drawn over it at its own height whatever the "
	"message's length, so that the player can always read where the logs are kept.";

// Every screen but the working one (test_drawing_working.cpp), with the fonts and
// without any: without them the bands, bars and faces stay and no text is drawn. A
// wrapped text is expected as the lines it breaks into at 864; a message that fits on
// one line as that line.
TEST_F(Screens, EveryScreenAsDescribed)
{
	const char PCT_LOGS[] = "/home/100%s%n/logs";
	const char LONG_LOGS[] = "/home/player/a data directory with a long name that runs on and "
		"on/past the right edge of the window, so that the logs line has to wrap/logs";
	const char BLOCKED[] = "The path of the data folder is too long: 1027 bytes, and at most "
		"1023 fit. Set BKF_HOME to a shorter one.";
	const char DISC[] = "The disc image did not download.";
	const char EXIT[] = "The build stopped (exit 2). Its log has the details.";
	const char START[] = "The build could not start.";
	const char STOPPED[] = "The game stopped unexpectedly.";
	const char READY_TEXT[] = "Ready to play. Version 1.5.6.";
	auto msg = [](const char *m) { return TextAt{&F_BODY, 48, 112, 0, RGB_WHITE, m}; };
	for (bool fonts : {true, false}) {
		F_TITLE = fonts ? LOADED[0] : nullptr;
		F_BODY = fonts ? LOADED[1] : nullptr;
		F_SMALL = fonts ? LOADED[2] : nullptr;
		F_BUTTON = fonts ? LOADED[3] : nullptr;
		struct Row {
			const char *what;
			int state, needs_disc, blocked;
			const char *msg, *logs;
			std::vector<int> actions;
			Look look;
		} rows[] = {
			{"checking", CHECKING, 0, 0, "", LOGS, {},
				{{title("Brackenfold"),
					{&F_BODY, 48, 112, 0, RGB_SOFT, "Checking the game\u2026"}}}},
			{"setup", SETUP, 1, 0, "", LOGS, {ACT_QUIT, ACT_BUILD},
				{join({{title("Set up Brackenfold")}, setup_text()}),
					quit_and("Download and Build")}},
			{"update", UPDATE, 0, 0, "", LOGS, {ACT_QUIT, ACT_BUILD},
				{join({{title("Updating Brackenfold")}, update_text()}),
					{{LEFT_FACE, "Quit", false}, {RIGHT_FACE, "Build", true}}}},
			{"failed first-time", FAILED, 1, 0, DISC, LOGS, {ACT_QUIT, ACT_RETRY},
				{{title("Set up Brackenfold"), msg(DISC), logs_line(LOGS)},
					quit_and("Try Again")}},
			{"failed update", FAILED, 0, 0, EXIT, LOGS, {ACT_QUIT, ACT_RETRY},
				{{title("Updating Brackenfold"), msg(EXIT), logs_line(LOGS)},
					quit_and("Try Again")}},
			{"failed percent", FAILED, 0, 0, "100%s%n", PCT_LOGS, {ACT_QUIT, ACT_RETRY},
				{{title("Updating Brackenfold"), msg("100%s%n"), logs_line(PCT_LOGS)},
					quit_and("Try Again")}},
			// The logs line stays at 222, over the message's last line.
			{"failed long", FAILED, 1, 0, LONG_MSG, LOGS, {ACT_QUIT, ACT_RETRY},
				{join({{title("Set up Brackenfold")},
					lines_at(&F_BODY, 48, 112, 28, RGB_WHITE, {
						"The installer stopped: a message long enough to wrap over more",
						"lines than fit above the logs line, which is drawn over it at its own",
						"height whatever the message's length, so that the player can always",
						"read where the logs are kept.",
					}),
					{logs_line(LOGS)}}),
					quit_and("Try Again")}},
			{"failed long logs", FAILED, 1, 0, START, LONG_LOGS, {ACT_QUIT, ACT_RETRY},
				{join({{title("Set up Brackenfold"), msg(START)},
					lines_at(&F_SMALL, 48, 222, 19, RGB_DIM, {
						"The logs are in /home/player/a data directory with a long name that "
						"runs on and on/past the right edge of",
						"the window, so that the logs line has to wrap/logs",
					})}),
					quit_and("Try Again")}},
			// A failure that is no build's: the plain title and no logs line.
			{"failed blocked", FAILED, 1, 1, BLOCKED, LOGS, {ACT_QUIT, ACT_RETRY},
				{join({{title("Brackenfold")},
					lines_at(&F_BODY, 48, 112, 28, RGB_WHITE, {
						"The path of the data folder is too long: 1027 bytes, and at most 1023",
						"fit. Set BKF_HOME to a shorter one.",
					})}),
					quit_and("Try Again")}},
			{"failed without a logs folder", FAILED, 1, 0, DISC, "", {ACT_QUIT, ACT_RETRY},
				{{title("Set up Brackenfold"), msg(DISC)}, quit_and("Try Again")}},
			{"ready", READY, 0, 0, "", LOGS, {ACT_QUIT, ACT_PLAY},
				{{title("Brackenfold"), {&F_BODY, 48, 112, 0, RGB_SOFT, READY_TEXT}},
					{{LEFT_FACE, "Quit", false}, {RIGHT_FACE, "Play", true}}}},
			{"ready needs disc", READY, 1, 0, "", LOGS, {ACT_QUIT, ACT_PLAY},
				{{title("Brackenfold"), {&F_BODY, 48, 112, 0, RGB_SOFT, READY_TEXT}},
					{{LEFT_FACE, "Quit", false}, {RIGHT_FACE, "Play", true}}}},
			{"crashed", CRASHED, 1, 0, STOPPED, LOGS, {ACT_QUIT, ACT_PLAY},
				{{title("Brackenfold"), msg(STOPPED), logs_line(LOGS)},
					quit_and("Play Again")}},
		};
		for (const Row &r : rows) {
			std::string what = std::string(r.what) + (fonts ? "" : " without fonts");
			SCOPED_TRACE(what);
			reset_state();
			S.state = r.state;
			S.needs_disc = r.needs_disc;
			S.blocked = r.blocked;
			snprintf(S.msg, sizeof S.msg, "%s", r.msg);
			snprintf(g_logs, sizeof g_logs, "%s", r.logs);
			buttons(2, "Stale", 9, "Stale", 9);
			FOCUS = NO_FOCUS;
			draw();
			int nb = (int)r.actions.size();
			ASSERT_EQ(NB, nb);
			for (int i = 0; i < nb; i++)
				EXPECT_EQ(B[i].action, r.actions[i]) << "button " << i;
			EXPECT_EQ(FOCUS, nb ? nb - 1 : NO_FOCUS);
			EXPECT_EQ(hit(820, 520), nb ? 1 : -1);
			grab();
			expect_look(what.c_str(), r.look);
		}
	}
}

// The logs line is drawn after the message, at its own height: under a message that
// runs on far below it, every pixel that is the line's colour over a short message
// still is.
TEST_F(Screens, LogsLineIsDrawnOverALongMessage)
{
	S.state = FAILED;
	S.needs_disc = 1;
	snprintf(S.msg, sizeof S.msg, "%s", "Short.");
	draw();
	grab();
	keep();
	snprintf(S.msg, sizeof S.msg, "%s %s", LONG_MSG, LONG_MSG);
	draw();
	grab();
	const SDL_Rect line = {48, 222, 864, 19};
	int dim = 0, lost = 0;
	for (int y = line.y; y < line.y + line.h; y++)
		for (int x = line.x; x < line.x + line.w; x++)
			if (rgb_of(KEPT[y][x]) == RGB_DIM) {
				dim++;
				lost += !(rgb(x, y) == RGB_DIM);
			}
	EXPECT_GT(dim, 100) << "no logs line over the short message";
	EXPECT_GT(differ(PX, KEPT, line), 0) << "the long message should run under the logs line";
	EXPECT_EQ(lost, 0) << "the message covers the logs line; got " << save("long")
		<< ", short " << save("short", KEPT);
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
		"No home folder was found: HOME is not set, and the system has none for this user. "
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
			" bytes, where the limit is 1023. Set BKF_HOME to a shorter one.";
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
			"The path of the app's files (BKF_SHARE) is too long: 1027 bytes, where the limit "
			"is 1023."},
		{"BKF_PYTHON too long", "BKF_PYTHON", std::string(3000, 'p'), 0,
			"The path of the Python interpreter (BKF_PYTHON) is too long: 3000 bytes, where "
			"the limit is 1023."},
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
