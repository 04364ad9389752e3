// frame.cpp: the cost of one frame. For every screen, draw() against floor_frame(), on
// the software renderer with the dummy video driver, on the 960x600 canvas ("--scale=1",
// the default) or on the 1920x1200 one ("--scale=2"). Each iteration ends with a flush, so that the
// renderer's queued commands are paid for inside it. Before timing, each pair of
// frames is read back and compared: the floor must paint the same pixels.

#include "floor.h"
#include "launcher.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

static const char *const NAMES[] = {"checking", "setup", "update", "working", "failed",
	"ready", "crashed"};

// The sample content of the screenshot mode, one screen at a time; the checking
// screen, which that mode has no word for, is the start state.
static void
sample(int screen)
{
	reset_state();
	if (screen != CHECKING)
		sample(NAMES[screen]);
	FOCUS = NO_FOCUS;
}

// The floor paints in output pixels: while it paints, the renderer scales nothing.
static void
output_pixels(int on)
{
	(void)SDL_RenderSetLogicalSize(R, on ? 0 : 960, on ? 0 : 600);
}

static void
BM_draw(benchmark::State &st)
{
	sample((int)st.range(0));
	for (auto _ : st) {
		draw();
		SDL_RenderFlush(R);
	}
}

static void
BM_floor(benchmark::State &st)
{
	int screen = (int)st.range(0);
	Uint32 started = SDL_GetTicks() - 754000u;
	output_pixels(1);
	for (auto _ : st) {
		floor_frame(screen, g_logs, started);
		SDL_RenderFlush(R);
	}
	output_pixels(0);
}

BENCHMARK(BM_draw)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_floor)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

static Uint32 PIX[2][1920 * 1200];  // a frame at the largest scale measured

// Returns the number of screens whose floor frame differs from draw()'s.
static int
compare(int scale)
{
	int bad = 0, pitch = 960 * 4 * scale;
	size_t size = sizeof PIX[0][0] * 960 * 600 * (size_t)(scale * scale);
	for (int s = 0; s < 7; s++) {
		sample(s);
		draw();
		(void)SDL_RenderReadPixels(R, nullptr, SDL_PIXELFORMAT_ARGB8888, PIX[0], pitch);
		output_pixels(1);
		floor_frame(s, g_logs, S.started_ms);
		(void)SDL_RenderReadPixels(R, nullptr, SDL_PIXELFORMAT_ARGB8888, PIX[1], pitch);
		output_pixels(0);
		if (memcmp(PIX[0], PIX[1], size) != 0) {
			fprintf(stderr, "bench_frame: the floor of %s paints other pixels\n", NAMES[s]);
			bad++;
		}
	}
	return bad;
}

int
main(int argc, char **argv)
{
	int scale = 1;
	if (argc > 1 && !strncmp(argv[1], "--scale=", 8)) {
		scale = !strcmp(argv[1], "--scale=2") ? 2 : 1;  // PIX holds a frame at 2x at most
		argv[1] = argv[0];
		argc--;
		argv++;
	}
	if (!canvas(scale)) {
		fprintf(stderr, "bench_frame: %s\n", SDL_GetError());
		return 1;
	}
	fit_text();  // the faces at the output's scale, as the loop has them before a frame
	(void)resolve_dirs();
	FL_R = R;
	if (!floor_fonts(scale))
		return 1;
	if (compare(scale) != 0)
		return 1;

	benchmark::Initialize(&argc, argv);
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	return 0;
}
