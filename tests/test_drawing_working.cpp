// test_drawing_working.cpp: the working screen held to what it should show: the step
// line, the elapsed clock, the determinate fill and the indeterminate sweep, as literal
// rectangles and text regions, and pictures that must match or differ only where the
// clock's minutes or seconds stand. The clock and the sweep read SDL_GetTicks(); this
// program defines that function itself, so the launcher's modules linked into it read
// TICKS while FAKE_TICKS is set (SDL's own calls inside the library keep the real counter).

#include "support.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <vector>

using namespace bkf;

static bool FAKE_TICKS;
static Uint32 TICKS;

extern "C" Uint32
SDL_GetTicks(void)
{
	return FAKE_TICKS ? TICKS : (Uint32)SDL_GetTicks64();
}

namespace {

const char SAMPLE_LAST[] = "[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o";

class Working : public Canvas {
protected:
	void SetUp() override
	{
		Canvas::SetUp();
		FAKE_TICKS = true;
		TICKS = 100000;
		S.state = WORKING;
		S.needs_disc = 1;
		FOCUS = NO_FOCUS;
	}
	void TearDown() override { FAKE_TICKS = false; }
};

// Draws the screen at a tick count and started_ms into PX.
void
draw_at(Uint32 ticks, Uint32 started)
{
	TICKS = ticks;
	S.started_ms = started;
	draw();
	grab();
}

TEST_F(Working, TicksAreFaked)
{
	TICKS = 12345;
	EXPECT_EQ(SDL_GetTicks(), 12345u);
}

// The clock is e = ticks - started_ms, wrapping, as minutes and two-digit seconds,
// ending at x = 912.
TEST_F(Working, ClockShowsTheElapsedTime)
{
	struct Row {
		Uint32 ticks, started;
		const char *clock;
	} rows[] = {
		{800000, 800000 - 754000, "12:34"},
		{800000, 800000 - 59999, "0:59"},
		{800000, 800000 - 60000, "1:00"},
		{800000, 800000 - 999, "0:00"},
		{800000, 800000, "0:00"},
		{4000000, 4000000 - 3600000, "60:00"},
		{7000000, 7000000 - 6000000, "100:00"},
		{5000, 5000u - 754000u, "12:34"},  // started "before" the counter began
		{1000, 4000, "71582:44"},          // started ahead: 2^32 - 3000 ms
		{UINT32_MAX, 0, "71582:47"},
	};
	S.progress = 0.5;
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << "elapsed " << (Uint32)(r.ticks - r.started)
			<< " ms, shown as " << r.clock);
		draw_at(r.ticks, r.started);
		expect_look(r.clock, working_look("Set up Brackenfold", "", r.clock,
			{48, 160, 432, 14}, ""));
	}
}

// Which elapsed times look alike: all of one second the same, the next second changes
// only the seconds, a minute later only the minutes; a started_ms ahead of the counter
// is the same as the elapsed time it wraps to.
TEST_F(Working, ClockChangesWithTheSecondAndMinute)
{
	const int w = width_of(F_BODY, "12:34");
	const SDL_Rect minutes = {912 - w, 112, width_of(F_BODY, "12") + 1, 28};
	const SDL_Rect seconds = {912 - w + width_of(F_BODY, "12:") - 1, 112,
		w - width_of(F_BODY, "12:") + 1, 28};
	struct Row {
		const char *what;
		Uint32 ticks_a, started_a, ticks_b, started_b;
		SDL_Rect differ;  // empty: the same picture
	} rows[] = {
		{"12:34 to its last ms", 800000, 800000 - 754000, 800000, 800000 - 754999, {}},
		{"0:59 to its last ms", 800000, 800000 - 59000, 800000, 800000 - 59999, {}},
		{"12:34 to 12:35", 800000, 800000 - 754999, 800000, 800000 - 755000, seconds},
		{"12:34 to 13:34", 800000, 800000 - 754000, 900000, 900000 - 814000, minutes},
		{"started ahead", 1000, 4000, (Uint32)(0u - 3000u), 0, {}},
		{"started before the counter", 5000, 5000u - 754000u, 800000, 800000 - 754000, {}},
	};
	S.progress = 0.5;
	for (const Row &r : rows) {
		SCOPED_TRACE(r.what);
		draw_at(r.ticks_a, r.started_a);
		keep();
		draw_at(r.ticks_b, r.started_b);
		if (r.differ.w)
			expect_differ_within(r.what, KEPT, PX, r.differ);
		else
			expect_same(r.what, KEPT, "first", PX, "second");
	}
}

// The step line: with a count, "Step %d of %d: %s"; without one, the label alone; a
// line long enough to reach the clock lies under it and is cut at 920.
TEST_F(Working, StepLine)
{
	const char LONG[] =
		"Compiling the recompiled sources of the whole game, one file after another";
	struct Row {
		int step, steps;
		const char *label;
		std::string line;
	} rows[] = {
		{3, 7, "Compiling", "Step 3 of 7: Compiling"},
		{0, 0, "Downloading the disc image", "Downloading the disc image"},
		{5, 0, "Patching", "Patching"},
		{0, 0, "", ""},
		{1, 2, "100%s%n", "Step 1 of 2: 100%s%n"},
		{7, 7, LONG, std::string("Step 7 of 7: ") + LONG},
	};
	S.progress = 0;
	for (const Row &r : rows) {
		SCOPED_TRACE(r.line);
		S.step = r.step;
		S.steps = r.steps;
		snprintf(S.step_label, sizeof S.step_label, "%s", r.label);
		snprintf(S.last_line, sizeof S.last_line, "%s", "[37/89] Building C object 100%d.o");
		draw_at(TICKS, TICKS - 754000);
		expect_look(r.line.c_str(), working_look("Set up Brackenfold", r.line, "12:34",
			{48, 160, 0, 14}, "[37/89] Building C object 100%d.o"));
	}
}

// The counted step line is that text as a label of its own, and the clock stands over a
// step line that reaches it: every pixel of the clock's colour over a short line still is.
TEST_F(Working, StepLineFormatAndTheClockOverIt)
{
	S.progress = 0;
	snprintf(S.step_label, sizeof S.step_label, "%s", "Step 3 of 7: Compiling");
	draw_at(TICKS, TICKS - 754000);
	keep();
	S.step = 3;
	S.steps = 7;
	snprintf(S.step_label, sizeof S.step_label, "%s", "Compiling");
	draw_at(TICKS, TICKS - 754000);
	expect_same("counted", KEPT, "label", PX, "counted");

	const int w = width_of(F_BODY, "12:34");
	snprintf(S.step_label, sizeof S.step_label, "%s",
		"Compiling the recompiled sources of the whole game, one file after another");
	draw_at(TICKS, TICKS - 754000);
	int dim = 0, lost = 0, under = 0;
	for (int y = 112; y < 140; y++)
		for (int x = 912 - w; x < 912; x++) {
			under += !(rgb(x, y) == rgb_of(KEPT[y][x]));
			if (rgb_of(KEPT[y][x]) == RGB_DIM) {
				dim++;
				lost += !(rgb(x, y) == RGB_DIM);
			}
		}
	EXPECT_GT(dim, 50) << "no clock over the short line";
	EXPECT_GT(under, 0) << "the long step line should run under the clock";
	EXPECT_EQ(lost, 0) << "the step line covers the clock; got " << save("long")
		<< ", short " << save("short", KEPT);
}

// The determinate fill is trunc(progress x 864) from x = 48; past 1 it runs on past the
// track's end; a huge or infinite progress fills to the canvas edge.
TEST_F(Working, DeterminateFill)
{
	struct Row {
		double progress;
		int fill;
	} rows[] = {
		{0.42, 362}, {1, 864}, {0, 0}, {-0.0, 0}, {0.5, 432}, {0.0011, 0}, {0.0012, 1},
		{1.5, 1296}, {1e12, 912}, {INFINITY, 912}, {DBL_MAX, 912},
	};
	for (const Row &r : rows) {
		std::string what = "progress " + std::to_string(r.progress);
		SCOPED_TRACE(what);
		S.progress = r.progress;
		draw_at(TICKS, TICKS);
		expect_look(what.c_str(), working_look("Set up Brackenfold", "", "0:00",
			{48, 160, r.fill, 14}, ""));
		if (r.fill >= 912)
			EXPECT_GE(fill_width(r.progress), 912) << "reaches the canvas edge";
		else
			EXPECT_EQ(fill_width(r.progress), r.fill);
	}
}

// Any progress that is not >= 0 sweeps a segment of up to 216 pixels across the track,
// f = ticks / 4 mod 1080.
TEST_F(Working, IndeterminateSweep)
{
	struct Row {
		Uint32 ticks;
		int x, w;  // the segment: [x, x + w), none when w is 0
		const char *clock;
	} rows[] = {
		{0, 0, 0, "0:00"}, {3, 0, 0, "0:00"},        // f = 0: empty
		{4, 48, 1, "0:00"},                          // f = 1: one pixel at the left end
		{7, 48, 1, "0:00"}, {8, 48, 2, "0:00"},
		{216 * 4, 48, 216, "0:00"},                  // grown to full length
		{500 * 4, 48 + 284, 216, "0:02"},
		{864 * 4, 48 + 648, 216, "0:03"},            // its end at the track's end
		{865 * 4, 48 + 649, 215, "0:03"},            // shrinking into it
		{1079 * 4, 911, 1, "0:04"},                  // the last pixel
		{1080 * 4, 0, 0, "0:04"},                    // f = 0 again
		{1080 * 4 + 40, 48, 10, "0:04"},
		{UINT32_MAX, 48 + 423 - 216, 216, "71582:47"},  // f = 423 at the counter's end
	};
	for (double p : {-1.0, (double)NAN, -(double)INFINITY, -1e-300}) {
		for (const Row &r : rows) {
			std::string what = "progress " + std::to_string(p) + ", ticks " +
				std::to_string(r.ticks);
			SCOPED_TRACE(what);
			S.progress = p;
			draw_at(r.ticks, 0);
			expect_look(what.c_str(), working_look("Set up Brackenfold", "", r.clock,
				{r.x, 160, r.w, 14}, ""));
		}
	}
}

// The sample of the screenshot mode, and a focus carried over from a two-button screen.
TEST_F(Working, SampleScreenWithFocusFromTwoButtons)
{
	S.step = 7;
	S.steps = 7;
	S.progress = 0.42;
	snprintf(S.step_label, sizeof S.step_label, "%s", "Compiling");
	snprintf(S.last_line, sizeof S.last_line, "%s", SAMPLE_LAST);
	FOCUS = 1;
	draw_at(TICKS, TICKS - 754000);
	EXPECT_EQ(NB, 1);
	EXPECT_EQ(FOCUS, 0);
	EXPECT_STREQ(B[0].label, "Cancel");
	EXPECT_EQ(B[0].action, ACT_CANCEL);
	expect_look("sample", working_look("Set up Brackenfold", "Step 7 of 7: Compiling", "12:34",
		{48, 160, 362, 14}, SAMPLE_LAST));
	// the title of an update
	S.needs_disc = 0;
	draw_at(TICKS, TICKS - 754000);
	expect_look("update", working_look("Updating Brackenfold", "Step 7 of 7: Compiling",
		"12:34", {48, 160, 362, 14}, SAMPLE_LAST));
}

// Without fonts the track, the fill and the Cancel face stay.
TEST_F(Working, WithoutFonts)
{
	fonts_off();
	S.progress = 0.42;
	S.steps = 7;
	snprintf(S.step_label, sizeof S.step_label, "%s", "Compiling");
	draw_at(TICKS, TICKS - 754000);
	expect_look("no fonts", working_look("Set up Brackenfold", "Step 7 of 7: Compiling",
		"12:34", {48, 160, 362, 14}, ""));
	EXPECT_EQ(B[0].w, 180);
	EXPECT_EQ(B[0].x, 732);
}

}  // namespace
