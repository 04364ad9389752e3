// launcher.h: the globals and functions that the launcher's four modules share.
// One section per owning file, in the order main() meets them: launcher.cpp (state,
// start-up, event loop, screenshot mode), drawing.cpp (fonts, text, buttons, screens),
// installer_control.cpp (status query, build run), game_launch.cpp (running the game).
// Each global is defined only in the file whose section declares it.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sys/types.h>

// [SECTION] launcher.cpp ------------------------------------------------------------

enum { CHECKING, SETUP, UPDATE, WORKING, FAILED, READY, CRASHED };

// Everything the launcher knows about the game, the installer and the running build.
struct State {
	int32_t state;
	char msg[512];         // message of the failure screens, "%.511s" of outside text
	char step_label[160];  // "%.159s" of the installer's step label
	int32_t step;
	int32_t steps;         // 0: no step count announced, the label stands alone
	double progress;       // 0..1 (a counter line may go past 1); -1.0 indeterminate
	char last_line[256];   // "%.255s" of the last plain or counter line
	Uint32 started_ms;     // tick count at the start of the build
	pid_t pid;             // build child, 0 when none
	int fd;                // non-blocking read end of its pipe, -1 when closed
	char line[8192];       // output line under assembly: 8191 bytes and a NUL
	size_t line_len;
	FILE *log;             // install.log of the current build, or null
	int32_t cancelled;
	int32_t needs_disc;    // first-time setup: titles and the screen a cancel returns to
};

static_assert(sizeof(State::msg) == 512 && sizeof(State::step_label) == 160 &&
	sizeof(State::last_line) == 256, "the %.511s, %.159s and %.255s cuts rely on these sizes");
constexpr size_t LINE_MAX_LEN = sizeof(State::line) - 1;  // 8191 bytes, then the NUL

extern State S;
extern char g_share[1024];  // application data: the installer script and the recompiler
extern char g_python[1024]; // interpreter that runs the installer
extern char g_home[1024];   // per-user data: the built game, its marker, the logs
extern char g_logs[1100];   // g_home + "/logs": room for a full g_home and the suffix
extern SDL_Window *WIN;
extern SDL_Renderer *R;

void reset_state();
const char *env_or(const char *name, const char *fallback);
void resolve_dirs();
void mkdirs(const char *path);
void close_fds_from(int lowest);
int act(unsigned action, int argc, char **argv);
int handle_event(const SDL_Event *e, int argc, char **argv);
void loop(int argc, char **argv);
void sample(const char *word);
int screenshot(const char *path);

// [SECTION] drawing.cpp -------------------------------------------------------------

enum { ACT_PLAY = 1, ACT_BUILD, ACT_CANCEL, ACT_RETRY, ACT_QUIT };

struct Button {
	const char *label;  // a string constant; the table only points at it
	int32_t action;
	int32_t x, y, w, h;
};

constexpr int NO_FOCUS = 99;  // no button chosen yet: the next bar focuses its rightmost

extern Button B[3];
extern int NB;
extern int FOCUS;

extern const SDL_Color WHITE, SOFT, DIM;
extern TTF_Font *F_TITLE, *F_BODY, *F_SMALL, *F_BUTTON;

TTF_Font *font(int bold, int size);
void load_fonts();
void text(TTF_Font *f, int x, int y, int wrap, SDL_Color c, const char *fmt, ...)
	__attribute__((format(printf, 6, 7)));
void buttons(int n, ...);
int hit(int x, int y);
int fill_width(double progress);
void draw();

// [SECTION] installer_control.cpp ---------------------------------------------------

extern Uint32 STATUS_LIMIT_MS;    // the status query is given up after this long
extern Uint32 SHUTDOWN_LIMIT_MS;  // a build child still alive at the end gets SIGKILL after this
extern Uint32 PUMP_LIMIT_MS;      // one pump_build call reads for at most this long

void install_argv(const char *argv[9], const char *mode);
void status_answer(const char *answer);
void check_status();
void start_build();
void cancel_build();
void feed(const char *bytes, size_t n);
void interpret(const char *line);
int pump_build();
void end_build();

// [SECTION] game_launch.cpp ---------------------------------------------------------

int play(SDL_Window *win, int argc, char **argv);
