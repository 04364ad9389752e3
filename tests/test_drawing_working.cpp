// test_drawing_working.cpp: the working screen, pixel for pixel: the step line, the
// elapsed clock, the determinate fill and the indeterminate sweep. The clock and the
// sweep read SDL_GetTicks(); this program defines that function itself, so the
// launcher's modules linked into it read TICKS while FAKE_TICKS is set (SDL's own
// calls inside the library keep the real counter).

#include "drawing_expect.h"

#include <climits>
#include <cfloat>
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
		TICKS = r.ticks;
		S.started_ms = r.started;
		draw();
		Look k;
		k.needs_disc = 1;
		k.clock = r.clock;
		k.fill_w = 432;
		k.focus = 0;
		expect_canvas(r.clock, [&] { expect_screen(WORKING, k); });
	}
	// The comparison tells one second from the next.
	TICKS = 800000;
	S.started_ms = 800000 - 754000;
	draw();
	grab();
	memcpy(GOT, PX, sizeof PX);
	Look k;
	k.needs_disc = 1;
	k.clock = "12:35";
	k.fill_w = 432;
	k.focus = 0;
	expect_screen(WORKING, k);
	grab();
	EXPECT_GT(differ(GOT, PX), 0);
}

// The step line: with a count, "Step %d of %d: %s"; without one, the label alone; a
// line long enough to reach the clock lies under it and is cut at 920.
TEST_F(Working, StepLine)
{
	struct Row {
		int step, steps;
		const char *label, *line;
	} rows[] = {
		{3, 7, "Compiling", "Step 3 of 7: Compiling"},
		{0, 0, "Downloading the disc image", "Downloading the disc image"},
		{5, 0, "Patching", "Patching"},
		{0, 0, "", ""},
		{1, 2, "100%s%n", "Step 1 of 2: 100%s%n"},
		{7, 7, "Compiling the recompiled sources of the whole game, one file after another",
			"Step 7 of 7: Compiling the recompiled sources of the whole game, one file after "
			"another"},
	};
	S.progress = 0;
	S.started_ms = TICKS - 754000;
	for (const Row &r : rows) {
		SCOPED_TRACE(r.line);
		S.step = r.step;
		S.steps = r.steps;
		snprintf(S.step_label, sizeof S.step_label, "%s", r.label);
		snprintf(S.last_line, sizeof S.last_line, "%s", "[37/89] Building C object 100%d.o");
		draw();
		Look k;
		k.needs_disc = 1;
		k.step = r.line;
		k.clock = "12:34";
		k.last = "[37/89] Building C object 100%d.o";
		k.focus = 0;
		expect_canvas(r.line, [&] { expect_screen(WORKING, k); });
	}
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
	S.started_ms = TICKS;
	for (const Row &r : rows) {
		SCOPED_TRACE(::testing::Message() << "progress " << r.progress);
		S.progress = r.progress;
		draw();
		Look k;
		k.needs_disc = 1;
		k.clock = "0:00";
		k.fill_w = r.fill;
		k.focus = 0;
		expect_canvas("fill", [&] { expect_screen(WORKING, k); });
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
	} rows[] = {
		{0, 0, 0}, {3, 0, 0},                 // f = 0: empty
		{4, 48, 1},                           // f = 1: one pixel at the left end
		{7, 48, 1}, {8, 48, 2},
		{216 * 4, 48, 216},                   // grown to full length
		{500 * 4, 48 + 284, 216},
		{864 * 4, 48 + 648, 216},             // its end at the track's end
		{865 * 4, 48 + 649, 215},             // shrinking into it
		{1079 * 4, 911, 1},                   // the last pixel
		{1080 * 4, 0, 0},                     // f = 0 again
		{1080 * 4 + 40, 48, 10},
		{UINT32_MAX, 48 + 423 - 216, 216},    // f = 423 at the counter's end
	};
	S.started_ms = 0;
	for (double p : {-1.0, (double)NAN, -(double)INFINITY, -1e-300}) {
		for (const Row &r : rows) {
			SCOPED_TRACE(::testing::Message() << "progress " << p << ", ticks " << r.ticks);
			S.progress = p;
			TICKS = r.ticks;
			draw();
			char clock[32];
			snprintf(clock, sizeof clock, "%u:%02u", r.ticks / 60000, r.ticks / 1000 % 60);
			Look k;
			k.needs_disc = 1;
			k.clock = clock;
			k.fill_x = r.x;
			k.fill_w = r.w;
			k.focus = 0;
			expect_canvas("sweep", [&] { expect_screen(WORKING, k); });
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
	S.started_ms = TICKS - 754000;
	snprintf(S.last_line, sizeof S.last_line, "%s",
		"[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o");
	FOCUS = 1;
	draw();
	EXPECT_EQ(NB, 1);
	EXPECT_EQ(FOCUS, 0);
	EXPECT_STREQ(B[0].label, "Cancel");
	EXPECT_EQ(B[0].action, ACT_CANCEL);
	Look k;
	k.needs_disc = 1;
	k.step = "Step 7 of 7: Compiling";
	k.clock = "12:34";
	k.fill_w = 362;
	k.last = "[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o";
	k.focus = 0;
	expect_canvas("sample", [&] { expect_screen(WORKING, k); });
	// the title of an update
	S.needs_disc = 0;
	draw();
	k.needs_disc = 0;
	expect_canvas("update", [&] { expect_screen(WORKING, k); });
}

// Without fonts the track, the fill and the Cancel face stay.
TEST_F(Working, WithoutFonts)
{
	fonts_off();
	S.progress = 0.42;
	S.steps = 7;
	snprintf(S.step_label, sizeof S.step_label, "%s", "Compiling");
	draw();
	Look k;
	k.fill_w = 362;
	k.focus = 0;
	k.needs_disc = 1;
	expect_canvas("no fonts", [&] { expect_screen(WORKING, k); });
	EXPECT_EQ(B[0].w, 180);
	EXPECT_EQ(B[0].x, 732);
}

}  // namespace
