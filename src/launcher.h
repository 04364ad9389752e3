// launcher.h: the globals and functions that the launcher's five modules share.
// One section per owning file, in the order main() meets them: launcher.cpp (state,
// start-up, the claim on the data folder, child processes, event loop, screenshot
// mode), language.cpp (the player's language), drawing.cpp (fonts, text, buttons,
// screens), installer_control.cpp (status query, build run), game_launch.cpp (running
// the game). Each global is defined only in the file whose section declares it.
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
	int log;               // install.log of the current build, -1 when none
	int32_t cancelled;
	int32_t needs_disc;    // first-time setup: titles and the screen a cancel returns to
	// A build told to stop (a cancel, a pipe that cannot be read) gets SHUTDOWN_LIMIT_MS
	// from stop_ms, then SIGKILL; a pipe still held KILL_WAIT_MS after that is let go.
	int32_t stopping;
	int32_t killed;
	Uint32 stop_ms;
	int32_t lost;          // the pipe failed: the build ends as a failure whatever its status
	char log_why[128];     // why install.log is incomplete; empty while it is whole
	int32_t blocked;       // the failure is no build's: a plain title, and Try Again begins again
	// The status query runs beside the loop: its child, its pipe, the answer so far.
	pid_t check_pid;       // 0 when none
	int check_fd;          // -1 when closed
	Uint32 check_ms;       // when it started: STATUS_LIMIT_MS counts from here
	size_t check_len;
	char answer[4096];     // at most 4095 bytes of the answer, then a NUL
};

static_assert(sizeof(State::msg) == 512 && sizeof(State::step_label) == 160 &&
	sizeof(State::last_line) == 256, "the %.511s, %.159s and %.255s cuts rely on these sizes");
constexpr size_t LINE_MAX_LEN = sizeof(State::line) - 1;  // 8191 bytes, then the NUL

constexpr const char *APP_ID = "io.brackenfold.Launcher";  // desktop entry, class, app id

extern State S;
extern char g_share[1024];  // application data: the installer script and the recompiler
extern char g_python[1024]; // interpreter that runs the installer
extern char g_home[1024];   // per-user data: the built game, its marker, the logs
extern char g_logs[1100];   // g_home + "/logs": room for a full g_home and the suffix
extern SDL_Window *WIN;
extern SDL_Renderer *R;
extern int REPAINT;  // the window lost its picture (an expose, a resize): paint it anew

void reset_state();
const char *env_or(const char *name, const char *fallback);
int resolve_dirs();
void mkdirs(const char *path);
int nearest(const char *path, char *out, size_t size);
int canonical(const char *path, char *out, size_t size);
int claim_path(const char *home, int which, char *out, size_t size);
int claim();
void begin();

// A child as the launcher runs it: everything here is made before the fork, so that
// the forked child calls only async-signal-safe functions until execve.
struct Spawn {
	const char *const *argv;  // argv[0] is the program, run by its path
	char *const *envp;        // its environment
	const char *fail;         // start of the line written to fd 2 when execve fails;
	                          // the reason and a newline follow. Null: nothing written
	int out, err;             // made descriptors 1 and 2 when >= 0
	int group;                // leads a process group of its own, from the first moment
	int orphan;               // killed when the launcher dies
};

pid_t spawn(const Spawn *sp);
int exited(pid_t pid);
int reap(pid_t pid, int *status);
int act(unsigned action, int argc, char **argv);
int handle_event(const SDL_Event *e, int argc, char **argv);
int frame_needed();
void frame_drawn();
void loop(int argc, char **argv);
void sample(const char *word);
int shot_scale(const char *value);
int screenshot(const char *path);
int canvas(int scale = 1);
int want_fullscreen();
void toggle_fullscreen();

// [SECTION] language.cpp ------------------------------------------------------------

extern char LANG_CODE[32];  // the language of the loaded catalogue; empty: English

int choose_language();
// The player's language for one of the launcher's own texts: its translation, or the
// text itself. format_arg keeps -Wformat checking every format passed through it.
const char *tr(const char *text) __attribute__((format_arg(1)));
int same_conversions(const char *original, const char *translation);

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
void fit_text();
void text(TTF_Font *f, int x, int y, int wrap, SDL_Color c, const char *fmt, ...)
	__attribute__((format(printf, 6, 7)));
void buttons(int n, ...);
int hit(int x, int y);
int fill_width(double progress);
void sweep(Uint32 ticks, int *start, int *end);
void draw();

// [SECTION] installer_control.cpp ---------------------------------------------------

extern Uint32 STATUS_LIMIT_MS;    // the status query is given up after this long
extern Uint32 SHUTDOWN_LIMIT_MS;  // the grace of a child told to stop, before SIGKILL
extern Uint32 KILL_WAIT_MS;       // after that SIGKILL, how long a held pipe is waited for
extern Uint32 CHECK_GRACE_MS;     // the grace of the status query's child at a quit
extern Uint32 PUMP_LIMIT_MS;      // one pump_build call reads for at most this long
extern unsigned long long ROOM_NEEDED;  // free bytes a first-time setup needs: "about 3 GB"

int read_limits(const char *spec);
void gb_down(unsigned long long bytes, unsigned long long *whole, unsigned long long *tenths);
void install_argv(const char *argv[9], const char *mode);
void status_answer(const char *answer);
void start_status();
int pump_status();
void end_status();
void start_build();
void cancel_build();
void feed(const char *bytes, size_t n);
void interpret(const char *line);
int pump_build();
void end_build();

// [SECTION] game_launch.cpp ---------------------------------------------------------

int play(SDL_Window *win, int argc, char **argv);
