// test_input.cpp: handle_event() with synthesized events for the key, mouse and
// controller tables, act()'s result table, the event loop with a batch of queued
// events, and a virtual game controller driving focus and actions. The button bar is
// the one draw() declares on the dummy renderer.

#include "fakes.h"
#include "support.h"

#include <dlfcn.h>

namespace {
extern Uint32 PRESENTS;
}

// Counts the frames presented, then hands on to SDL's own.
extern "C" void
SDL_RenderPresent(SDL_Renderer *r)
{
	using Present = void (*)(SDL_Renderer *);
	static Present real = (Present)dlsym(RTLD_NEXT, "SDL_RenderPresent");
	PRESENTS++;
	real(r);
}

namespace {

class Input : public ::testing::Test {
protected:
	std::string dir, runs;

	void SetUp() override
	{
		bkf::canvas_up();
		launcher_reset();
		dir = temp_dir("input");
		runs = dir + "/runs";
		set_dirs(dir + "/python", dir + "/share", dir + "/home");
		// The fake installer counts its starts and waits to be cancelled.
		write_sh(g_python, "echo started >> " + runs + "\necho up\nexec sleep 30\n");
		SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
	}

	void TearDown() override
	{
		launcher_reset();
		remove_tree(dir);
	}

	// The screen as drawn, with the given focus (NO_FOCUS: the default button).
	void screen(int state, int focus)
	{
		if (state == WORKING) {
			S.state = UPDATE;
			start_build();
			ASSERT_EQ(S.state, WORKING);
		} else {
			S.state = state;
		}
		FOCUS = NO_FOCUS;
		draw();
		if (focus != NO_FOCUS)
			FOCUS = focus;
	}
};

SDL_Event
key(SDL_Keycode k, Uint16 mod = 0, Uint8 repeat = 0)
{
	SDL_Event e = {};
	e.type = SDL_KEYDOWN;
	e.key.keysym.sym = k;
	e.key.keysym.mod = mod;
	e.key.repeat = repeat;
	return e;
}

// A held key: the repeats that the key sends after its first press.
SDL_Event
held(SDL_Keycode k)
{
	return key(k, 0, 1);
}

SDL_Event
pad(Uint8 b)
{
	SDL_Event e = {};
	e.type = SDL_CONTROLLERBUTTONDOWN;
	e.cbutton.button = b;
	e.cbutton.state = SDL_PRESSED;
	return e;
}

SDL_Event
of_type(Uint32 type)
{
	SDL_Event e = {};
	e.type = type;
	return e;
}

enum { NOTHING = 0, QUITS = 1, STARTS = 2, CANCELS = 4 };

struct EventCase {
	const char *name;
	SDL_Event e;
	int state, focus;  // the screen and the focus before
	int focus_after;
	int effect;
};

// SETUP: "Quit" (0), "Download and Build" (1). WORKING: "Cancel" (0).
const EventCase EVENTS[] = {
	{"Tab", key(SDLK_TAB), SETUP, 0, 1, NOTHING},
	{"Tab on the last", key(SDLK_TAB), SETUP, 1, 1, NOTHING},
	{"Shift+Tab", key(SDLK_TAB, KMOD_LSHIFT), SETUP, 0, 1, NOTHING},
	{"Right", key(SDLK_RIGHT), SETUP, 0, 1, NOTHING},
	{"Right on the last", key(SDLK_RIGHT), SETUP, 1, 1, NOTHING},
	{"Down", key(SDLK_DOWN), SETUP, 0, 1, NOTHING},
	{"Left", key(SDLK_LEFT), SETUP, 1, 0, NOTHING},
	{"Left on the first", key(SDLK_LEFT), SETUP, 0, 0, NOTHING},
	{"Up", key(SDLK_UP), SETUP, 1, 0, NOTHING},
	{"Up on the first", key(SDLK_UP), SETUP, 0, 0, NOTHING},
	{"Return on Quit", key(SDLK_RETURN), SETUP, 0, 0, QUITS},
	{"Space on Quit", key(SDLK_SPACE), SETUP, 0, 0, QUITS},
	{"KP Enter on Quit", key(SDLK_KP_ENTER), SETUP, 0, 0, QUITS},
	{"Return on Build", key(SDLK_RETURN), SETUP, 1, 1, STARTS},
	{"Space on Build", key(SDLK_SPACE), SETUP, 1, 1, STARTS},
	{"KP Enter on Build", key(SDLK_KP_ENTER), SETUP, 1, 1, STARTS},
	{"Return with Ctrl", key(SDLK_RETURN, KMOD_LCTRL), SETUP, 1, 1, STARTS},
	{"Alt+Return on Build", key(SDLK_RETURN, KMOD_LALT), SETUP, 1, 1, NOTHING},
	{"AltGr+Return on Build", key(SDLK_RETURN, KMOD_RALT), SETUP, 1, 1, NOTHING},
	{"held Return on Build", held(SDLK_RETURN), SETUP, 1, 1, NOTHING},
	{"held Space on Quit", held(SDLK_SPACE), SETUP, 0, 0, NOTHING},
	{"held KP Enter on Build", held(SDLK_KP_ENTER), SETUP, 1, 1, NOTHING},
	{"held Return on Cancel", held(SDLK_RETURN), WORKING, 0, 0, NOTHING},
	{"held Escape on setup", held(SDLK_ESCAPE), SETUP, 1, 1, NOTHING},
	{"held Escape while working", held(SDLK_ESCAPE), WORKING, 0, 0, NOTHING},
	{"held Right moves on", held(SDLK_RIGHT), SETUP, 0, 1, NOTHING},
	{"held Left moves back", held(SDLK_LEFT), SETUP, 1, 0, NOTHING},
	{"held Tab moves on", held(SDLK_TAB), SETUP, 0, 1, NOTHING},
	{"Return on Try Again", key(SDLK_RETURN), FAILED, 1, 1, STARTS},
	{"Return on Cancel", key(SDLK_RETURN), WORKING, 0, 0, CANCELS},
	{"Return with no focus in range", key(SDLK_RETURN), SETUP, 7, 7, NOTHING},
	{"other key", key(SDLK_a), SETUP, 1, 1, NOTHING},
	{"F1", key(SDLK_F1), SETUP, 1, 1, NOTHING},
	{"Escape on setup", key(SDLK_ESCAPE), SETUP, 1, 1, QUITS},
	{"Escape on update", key(SDLK_ESCAPE), UPDATE, 1, 1, QUITS},
	{"Escape on failed", key(SDLK_ESCAPE), FAILED, 1, 1, QUITS},
	{"Escape on ready", key(SDLK_ESCAPE), READY, 1, 1, QUITS},
	{"Escape on crashed", key(SDLK_ESCAPE), CRASHED, 1, 1, QUITS},
	{"Escape while working", key(SDLK_ESCAPE), WORKING, 0, 0, CANCELS},
	{"window closed", of_type(SDL_QUIT), SETUP, 1, 1, QUITS},
	{"window closed while working", of_type(SDL_QUIT), WORKING, 0, 0, CANCELS | QUITS},
	{"key up", of_type(SDL_KEYUP), SETUP, 1, 1, NOTHING},
	{"controller A on Build", pad(SDL_CONTROLLER_BUTTON_A), SETUP, 1, 1, STARTS},
	{"controller Start on Quit", pad(SDL_CONTROLLER_BUTTON_START), SETUP, 0, 0, QUITS},
	{"controller A on Cancel", pad(SDL_CONTROLLER_BUTTON_A), WORKING, 0, 0, CANCELS},
	{"controller B while working", pad(SDL_CONTROLLER_BUTTON_B), WORKING, 0, 0, CANCELS},
	{"controller B on setup", pad(SDL_CONTROLLER_BUTTON_B), SETUP, 1, 1, NOTHING},
	{"D-pad left", pad(SDL_CONTROLLER_BUTTON_DPAD_LEFT), SETUP, 1, 0, NOTHING},
	{"D-pad up", pad(SDL_CONTROLLER_BUTTON_DPAD_UP), SETUP, 1, 0, NOTHING},
	{"D-pad up on the first", pad(SDL_CONTROLLER_BUTTON_DPAD_UP), SETUP, 0, 0, NOTHING},
	{"D-pad right", pad(SDL_CONTROLLER_BUTTON_DPAD_RIGHT), SETUP, 0, 1, NOTHING},
	{"D-pad down", pad(SDL_CONTROLLER_BUTTON_DPAD_DOWN), SETUP, 0, 1, NOTHING},
	{"D-pad down on the last", pad(SDL_CONTROLLER_BUTTON_DPAD_DOWN), SETUP, 1, 1, NOTHING},
	{"controller X", pad(SDL_CONTROLLER_BUTTON_X), SETUP, 1, 1, NOTHING},
	{"controller Back", pad(SDL_CONTROLLER_BUTTON_BACK), SETUP, 0, 0, NOTHING},
	{"controller Guide", pad(SDL_CONTROLLER_BUTTON_GUIDE), WORKING, 0, 0, NOTHING},
	{"controller button up", of_type(SDL_CONTROLLERBUTTONUP), SETUP, 1, 1, NOTHING},
	{"joystick button", of_type(SDL_JOYBUTTONDOWN), SETUP, 1, 1, NOTHING},
};

TEST_F(Input, EventTable)
{
	for (const EventCase &c : EVENTS) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(dir + "/python", dir + "/share", dir + "/home");
		(void)remove(runs.c_str());
		screen(c.state, c.focus);
		int was_state = S.state;
		pid_t was_pid = S.pid;
		int quit = handle_event(&c.e, 0, nullptr);
		EXPECT_EQ(quit, (c.effect & QUITS) ? 1 : 0);
		EXPECT_EQ(FOCUS, c.focus_after);
		EXPECT_EQ(S.cancelled, (c.effect & CANCELS) ? 1 : 0);
		if (c.effect & STARTS) {
			EXPECT_EQ(S.state, WORKING);
			EXPECT_GT(S.pid, 0);
		} else {
			EXPECT_EQ(S.state, was_state);
			EXPECT_EQ(S.pid, was_pid);
		}
		if (S.pid > 0) {
			cancel_build();
			EXPECT_TRUE(drain_build());
		}
	}
}

// The mouse: motion over a button focuses it, motion elsewhere leaves the focus; a
// left-button release over a button focuses and acts; other buttons, presses and
// releases off the bar do nothing.
TEST_F(Input, Mouse)
{
	screen(SETUP, NO_FOCUS);
	ASSERT_EQ(NB, 2);
	ASSERT_EQ(FOCUS, 1);
	auto centre_x = [](int i) { return B[i].x + B[i].w / 2; };
	auto centre_y = [](int i) { return B[i].y + B[i].h / 2; };
	// The player's motion comes with a relative motion; the motion that comes with the
	// window appearing, resizing or going fullscreen under a resting pointer has none.
	auto motion = [](int x, int y, int rel = 3) {
		SDL_Event e = {};
		e.type = SDL_MOUSEMOTION;
		e.motion.x = x;
		e.motion.y = y;
		e.motion.xrel = rel;
		e.motion.yrel = -rel;
		return e;
	};
	auto button = [](Uint32 type, Uint8 b, int x, int y) {
		SDL_Event e = {};
		e.type = type;
		e.button.button = b;
		e.button.x = x;
		e.button.y = y;
		return e;
	};
	struct {
		const char *name;
		SDL_Event e;
		int focus_before, focus_after, quit;
	} cases[] = {
		{"motion over Quit", motion(centre_x(0), centre_y(0)), 1, 0, 0},
		{"a resting pointer over Quit", motion(centre_x(0), centre_y(0), 0), 1, 1, 0},
		{"a resting pointer over Build", motion(centre_x(1), centre_y(1), 0), 0, 0, 0},
		{"motion over Build", motion(centre_x(1), centre_y(1)), 0, 1, 0},
		{"motion off the bar", motion(10, 10), 0, 0, 0},
		{"motion between the buttons", motion(B[0].x + B[0].w + 10, centre_y(0)), 1, 1, 0},
		{"left release on Quit", button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, centre_x(0),
			centre_y(0)), 1, 0, 1},
		{"right release on Quit", button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, centre_x(0),
			centre_y(0)), 1, 1, 0},
		{"middle release on Quit", button(SDL_MOUSEBUTTONUP, SDL_BUTTON_MIDDLE, centre_x(0),
			centre_y(0)), 1, 1, 0},
		{"left press on Quit", button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, centre_x(0),
			centre_y(0)), 1, 1, 0},
		{"left release off the bar", button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 480, 300), 0, 0,
			0},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		FOCUS = c.focus_before;
		EXPECT_EQ(handle_event(&c.e, 0, nullptr), c.quit);
		EXPECT_EQ(FOCUS, c.focus_after);
		EXPECT_EQ(S.state, SETUP);
	}

	// A left release on "Download and Build" starts the build.
	FOCUS = 0;
	SDL_Event e = button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, centre_x(1), centre_y(1));
	EXPECT_EQ(handle_event(&e, 0, nullptr), 0);
	EXPECT_EQ(FOCUS, 1);
	EXPECT_EQ(S.state, WORKING);
	EXPECT_GT(S.pid, 0);
}

// act(): the result and the effect of each action code.
TEST_F(Input, ActTable)
{
	struct {
		const char *name;
		unsigned action;
		int working;  // a build runs before the action
		int result, effect;
	} cases[] = {
		{"quit", ACT_QUIT, 0, 1, NOTHING},
		{"build", ACT_BUILD, 0, 0, STARTS},
		{"retry", ACT_RETRY, 0, 0, STARTS},
		{"cancel with a child", ACT_CANCEL, 1, 0, CANCELS},
		{"cancel without a child", ACT_CANCEL, 0, 0, NOTHING},
		{"code 0", 0, 0, 0, NOTHING},
		{"code 6", 6, 0, 0, NOTHING},
		{"a large code", 0xffffffffu, 0, 0, NOTHING},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(dir + "/python", dir + "/share", dir + "/home");
		S.state = UPDATE;
		if (c.working)
			start_build();
		int state = S.state;
		EXPECT_EQ(act(c.action, 0, nullptr), c.result);
		EXPECT_EQ(S.cancelled, c.effect == CANCELS);
		if (c.effect == STARTS)
			EXPECT_EQ(S.state, WORKING);
		else
			EXPECT_EQ(S.state, state);
		if (S.pid > 0) {
			cancel_build();
			EXPECT_TRUE(drain_build());
		}
	}
}

// One batch of the loop: two activations of "Download and Build" and a window close.
// The second activation acts on the old bar and must start no second installer; the
// close cancels the one that runs. Afterwards no child of the launcher is left.
TEST_F(Input, LoopBatchStartsOneChild)
{
	screen(SETUP, NO_FOCUS);
	ASSERT_EQ(FOCUS, 1);
	SDL_Event e = key(SDLK_RETURN);
	ASSERT_EQ(SDL_PushEvent(&e), 1);
	ASSERT_EQ(SDL_PushEvent(&e), 1);
	e = of_type(SDL_QUIT);
	ASSERT_EQ(SDL_PushEvent(&e), 1);
	loop(0, nullptr);
	EXPECT_EQ(S.cancelled, 1);
	end_build();
	EXPECT_EQ(S.pid, 0);
	int st;
	errno = 0;
	EXPECT_EQ(waitpid(-1, &st, WNOHANG), -1) << "a second installer was started and lost";
	EXPECT_EQ(errno, ECHILD);
}

// The loop resets the focus when the build's end changes the screen: after "Download
// and Build" the bar is "Cancel" at 0, and the ready screen then focuses "Play" (1).
Uint32
quit_when_ready(Uint32 interval, void *)
{
	if (__atomic_load_n(&S.state, __ATOMIC_RELAXED) == READY) {
		SDL_Event e = {};
		e.type = SDL_QUIT;
		(void)SDL_PushEvent(&e);
		return 0;
	}
	return interval;
}

TEST_F(Input, LoopFocusAfterBuild)
{
	ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_TIMER), 0) << SDL_GetError();
	write_sh(g_python, "echo '@step 1 1 Quick'\nexit 0\n");
	screen(SETUP, NO_FOCUS);
	SDL_Event e = key(SDLK_RETURN);
	ASSERT_EQ(SDL_PushEvent(&e), 1);
	SDL_TimerID t = SDL_AddTimer(10, quit_when_ready, nullptr);
	ASSERT_NE(t, 0);
	loop(0, nullptr);
	(void)SDL_RemoveTimer(t);
	EXPECT_EQ(S.state, READY);
	EXPECT_EQ(FOCUS, 1);
	EXPECT_STREQ(B[FOCUS].label, "Play");
}

// A turn whose picture is the last frame's is not painted: every part that a screen
// shows makes the next frame needed when it changes, and nothing else does; an expose,
// a resize, a restore or a display change always repaints.
TEST_F(Input, FramesOnlyWhenThePictureChanges)
{
	struct {
		const char *name;
		void (*change)();
		int needed;
	} cases[] = {
		{"nothing", [] {}, 0},
		{"the state", [] { S.state = FAILED; }, 1},
		{"the focus", [] { FOCUS = -1; }, 1},
		{"the title's setup mark", [] { S.needs_disc = !S.needs_disc; }, 1},
		{"the step", [] { S.step = 5; }, 1},
		{"the step count", [] { S.steps = 9; }, 1},
		{"the step label", [] { S.step_label[0] = 'X'; }, 1},
		{"the last line", [] { snprintf(S.last_line, sizeof S.last_line, "%s", "next"); }, 1},
		{"the fill, by a pixel or two", [] { S.progress = 0.25 + 2.0 / 864; }, 1},
		{"the fill, by less than a pixel", [] { S.progress = 0.25 + 0.1 / 864; }, 0},
		{"the clock's second", [] { S.started_ms -= 1000; }, 1},
		{"a message not shown on this screen", [] { S.msg[0] = 'X'; }, 0},
		{"a build field not shown", [] { S.line_len = 7; }, 0},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		reset_state();
		S.state = WORKING;
		S.steps = 3;
		S.step = 1;
		S.progress = 0.25;
		snprintf(S.step_label, sizeof S.step_label, "%s", "Compiling");
		S.started_ms = SDL_GetTicks() - 400;  // the clock stays at 0:00 for 600 ms
		FOCUS = NO_FOCUS;
		draw();
		frame_drawn();
		EXPECT_EQ(frame_needed(), 0);
		c.change();
		EXPECT_EQ(frame_needed(), c.needed);
	}

	// The sweep moves a pixel every 4 ms while it is shown.
	S.progress = -1.0;
	draw();
	frame_drawn();
	SDL_Delay(10);
	EXPECT_EQ(frame_needed(), 1);

	struct {
		Uint8 event;
		int repaint;
	} windows[] = {
		{SDL_WINDOWEVENT_EXPOSED, 1}, {SDL_WINDOWEVENT_SHOWN, 1}, {SDL_WINDOWEVENT_RESTORED, 1},
		{SDL_WINDOWEVENT_MAXIMIZED, 1}, {SDL_WINDOWEVENT_SIZE_CHANGED, 1},
		{SDL_WINDOWEVENT_DISPLAY_CHANGED, 1}, {SDL_WINDOWEVENT_MOVED, 0},
		{SDL_WINDOWEVENT_ENTER, 0}, {SDL_WINDOWEVENT_FOCUS_GAINED, 0},
		{SDL_WINDOWEVENT_HIDDEN, 0},
	};
	reset_state();
	S.state = READY;
	FOCUS = NO_FOCUS;
	for (const auto &w : windows) {
		SCOPED_TRACE(::testing::Message() << "window event " << (int)w.event);
		draw();
		frame_drawn();
		SDL_Event e = of_type(SDL_WINDOWEVENT);
		e.window.event = w.event;
		EXPECT_EQ(handle_event(&e, 0, nullptr), 0);
		EXPECT_EQ(frame_needed(), w.repaint);
	}
}

// The loop presents a frame only when the picture changes: on an unchanging screen it
// presents the first frame and then none while it waits.
Uint32 PRESENTS;
Uint32 quit_after(Uint32, void *)
{
	SDL_Event e = {};
	e.type = SDL_QUIT;
	(void)SDL_PushEvent(&e);
	return 0;
}

TEST_F(Input, LoopPresentsOnlyChanges)
{
	ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_TIMER), 0) << SDL_GetError();
	reset_state();
	S.state = READY;
	FOCUS = NO_FOCUS;
	REPAINT = 1;
	PRESENTS = 0;
	SDL_TimerID t = SDL_AddTimer(1200, quit_after, nullptr);  // five idle turns or so
	ASSERT_NE(t, 0);
	loop(0, nullptr);
	EXPECT_EQ(PRESENTS, 1u) << "an unchanging screen was presented again";
}

// F11 and Alt+Return switch between the window and desktop fullscreen, once a press;
// a held key's repeats do not switch again, and Return alone still presses.
TEST_F(Input, FullscreenKeys)
{
	auto fullscreen = [] { return (SDL_GetWindowFlags(WIN) & SDL_WINDOW_FULLSCREEN) != 0; };
	screen(READY, NO_FOCUS);
	ASSERT_FALSE(fullscreen());
	struct {
		const char *name;
		SDL_Event e;
		bool after;
	} rows[] = {
		{"F11", key(SDLK_F11), true},
		{"F11 held", held(SDLK_F11), true},
		{"F11 again", key(SDLK_F11), false},
		{"Alt+Return", key(SDLK_RETURN, KMOD_LALT), true},
		{"Alt+Return held", key(SDLK_RETURN, KMOD_LALT, 1), true},
		{"Alt+Return again", key(SDLK_RETURN, KMOD_RALT), false},
		{"Shift+F11", key(SDLK_F11, KMOD_LSHIFT), true},
		{"Escape in fullscreen quits as ever", key(SDLK_ESCAPE), true},
	};
	for (const auto &r : rows) {
		SCOPED_TRACE(r.name);
		int quit = handle_event(&r.e, 0, nullptr);
		EXPECT_EQ(quit, r.e.key.keysym.sym == SDLK_ESCAPE);
		EXPECT_EQ(fullscreen(), r.after);
		EXPECT_EQ(S.state, READY) << "a fullscreen key pressed a button";
	}
	toggle_fullscreen();
	EXPECT_FALSE(fullscreen());
}

// Where the window starts fullscreen: BKF_FULLSCREEN decides when it is 1 or 0; else a
// game-mode compositor in XDG_CURRENT_DESKTOP (a list, any case) does.
TEST_F(Input, StartsFullscreen)
{
	const char *U = nullptr;
	struct {
		const char *fullscreen, *desktop;
		int want;
	} rows[] = {
		{U, U, 0}, {U, "GNOME", 0}, {U, "gamescope", 1}, {U, "KDE:gamescope", 1},
		{U, "Gamescope", 1}, {U, "gamescopex", 0}, {"1", U, 1}, {"1", "GNOME", 1},
		{"0", "gamescope", 0}, {"", "gamescope", 1}, {"yes", U, 0}, {"yes", "gamescope", 1},
	};
	for (const auto &r : rows) {
		SCOPED_TRACE(::testing::Message() << "BKF_FULLSCREEN " << (r.fullscreen ? r.fullscreen
			: "unset") << ", XDG_CURRENT_DESKTOP " << (r.desktop ? r.desktop : "unset"));
		for (auto [name, v] : {std::pair{"BKF_FULLSCREEN", r.fullscreen},
			     std::pair{"XDG_CURRENT_DESKTOP", r.desktop}}) {
			if (v)
				(void)setenv(name, v, 1);
			else
				(void)unsetenv(name);
		}
		::testing::internal::CaptureStderr();
		EXPECT_EQ(want_fullscreen(), r.want);
		std::string err = ::testing::internal::GetCapturedStderr();
		EXPECT_EQ(!err.empty(), r.fullscreen && !strcmp(r.fullscreen, "yes")) << err;
	}
	(void)unsetenv("BKF_FULLSCREEN");
	(void)unsetenv("XDG_CURRENT_DESKTOP");

	struct {
		const char *value;
		int scale;
	} scales[] = {{U, 1}, {"1", 1}, {"2", 2}, {"4", 4}, {"5", 1}, {"0", 1}, {"1.5", 1},
		{"2x", 1}, {"-2", 1}};
	for (const auto &r : scales) {
		SCOPED_TRACE(r.value ? r.value : "unset");
		::testing::internal::CaptureStderr();
		EXPECT_EQ(shot_scale(r.value), r.scale);
		std::string err = ::testing::internal::GetCapturedStderr();
		EXPECT_EQ(err.empty(), !r.value || r.scale != 1 || !strcmp(r.value, "1")) << err;
	}
}

// A real (virtual) game controller: its arrival opens it, and its buttons arrive as
// controller events that move the focus, start and cancel the build.
TEST_F(Input, VirtualController)
{
	// The test's window is hidden and never has the focus, which would hold the
	// controller's events back.
	(void)SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
	ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
	SDL_VirtualJoystickDesc d = {};
	d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
	d.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
	d.naxes = SDL_CONTROLLER_AXIS_MAX;
	d.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
	d.name = "bkf test pad";
	int idx = SDL_JoystickAttachVirtualEx(&d);
	ASSERT_GE(idx, 0) << SDL_GetError();
	if (!SDL_IsGameController(idx)) {
		char guid[64];
		SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(idx), guid, sizeof guid);
		std::string map = std::string(guid) + ",bkf test pad,a:b0,b:b1,x:b2,y:b3,back:b4,"
			"guide:b5,start:b6,dpup:b11,dpdown:b12,dpleft:b13,dpright:b14,";
		ASSERT_GE(SDL_GameControllerAddMapping(map.c_str()), 0) << SDL_GetError();
	}
	ASSERT_TRUE(SDL_IsGameController(idx));

	screen(SETUP, NO_FOCUS);
	int quit = 0;
	auto drain_events = [&] {
		SDL_PumpEvents();
		SDL_Event e;
		while (SDL_PollEvent(&e))
			quit |= handle_event(&e, 0, nullptr);
	};
	drain_events();  // the arrival: handle_event opens the controller
	SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(idx);
	SDL_GameController *gc = SDL_GameControllerFromInstanceID(id);
	ASSERT_NE(gc, nullptr) << "SDL_CONTROLLERDEVICEADDED did not open the controller";
	SDL_Joystick *joy = SDL_GameControllerGetJoystick(gc);

	auto press = [&](SDL_GameControllerButton b) {
		SDL_GameControllerButtonBind bind = SDL_GameControllerGetBindForButton(gc, b);
		ASSERT_EQ(bind.bindType, SDL_CONTROLLER_BINDTYPE_BUTTON);
		ASSERT_EQ(SDL_JoystickSetVirtualButton(joy, bind.value.button, SDL_PRESSED), 0);
		drain_events();
		ASSERT_EQ(SDL_JoystickSetVirtualButton(joy, bind.value.button, SDL_RELEASED), 0);
		drain_events();
	};
	press(SDL_CONTROLLER_BUTTON_DPAD_LEFT);
	EXPECT_EQ(FOCUS, 0);
	press(SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
	EXPECT_EQ(FOCUS, 1);
	press(SDL_CONTROLLER_BUTTON_A);
	EXPECT_EQ(S.state, WORKING);
	EXPECT_GT(S.pid, 0);
	press(SDL_CONTROLLER_BUTTON_B);
	EXPECT_EQ(S.cancelled, 1);
	EXPECT_EQ(quit, 0);
	EXPECT_TRUE(drain_build());
	EXPECT_EQ(S.state, UPDATE);
	(void)SDL_JoystickDetachVirtual(idx);
}

}  // namespace
