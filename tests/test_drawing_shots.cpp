// test_drawing_shots.cpp: the screenshot mode of the real launcher. Each run gets the
// test's environment without SDL_VIDEODRIVER, DISPLAY or any BKF_ variable, plus the
// ones a row names. Its BMP is held to the look of the word's screen, and must be the
// very picture that draw() paints in this process for the word's sample content. Runs
// that cannot save must end with status 1 and leave nothing behind.

#include "support.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace bkf;

namespace {

struct Outcome {
	int status = -1;  // exit status, or -1 when the run did not exit normally
	std::string err;  // its standard error
};

// Runs argv with the cleaned environment and the given NAME=value additions.
Outcome
run(const std::vector<std::string> &argv, const std::vector<std::string> &add)
{
	std::vector<std::string> env;
	for (char **e = environ; *e; e++) {
		std::string v = *e;
		if (v.rfind("SDL_VIDEODRIVER=", 0) == 0 || v.rfind("DISPLAY=", 0) == 0 ||
			v.rfind("WAYLAND_DISPLAY=", 0) == 0 || v.rfind("BKF_", 0) == 0 ||
			v.rfind("XDG_DATA_HOME=", 0) == 0 || v.rfind("SDL_RENDER_DRIVER=", 0) == 0)
			continue;
		env.push_back(v);
	}
	env.insert(env.end(), add.begin(), add.end());
	std::vector<char *> ev, av;
	for (std::string &v : env)
		ev.push_back(v.data());
	ev.push_back(nullptr);
	std::vector<std::string> args = argv;
	for (std::string &a : args)
		av.push_back(a.data());
	av.push_back(nullptr);

	std::string errfile = tmp_dir() + "/stderr";
	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&fa, 2, errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
		0644);
	pid_t pid;
	Outcome r;
	int rc = posix_spawnp(&pid, av[0], &fa, nullptr, av.data(), ev.data());
	posix_spawn_file_actions_destroy(&fa);
	if (rc != 0) {
		ADD_FAILURE() << "cannot run " << argv[0] << ": " << strerror(rc);
		return r;
	}
	int ws = 0;
	for (int waited = 0;; waited += 10) {
		pid_t w = waitpid(pid, &ws, WNOHANG);
		if (w == pid)
			break;
		if (waited > 20000) {
			(void)kill(pid, SIGKILL);
			(void)waitpid(pid, &ws, 0);
			ADD_FAILURE() << argv[0] << " still running after 20 s";
			break;
		}
		SDL_Delay(10);
	}
	if (WIFEXITED(ws))
		r.status = WEXITSTATUS(ws);
	std::ifstream in(errfile);
	std::stringstream ss;
	ss << in.rdbuf();
	r.err = ss.str();
	return r;
}

std::vector<std::string>
launcher()
{
	return {BKF_LAUNCHER_PATH};
}

// Loads a screenshot into KEPT; false (with a failure) when it is not a 960x600 picture.
bool
load(const std::string &path)
{
	SDL_Surface *s = SDL_LoadBMP(path.c_str());
	if (!s) {
		ADD_FAILURE() << path << ": " << SDL_GetError();
		return false;
	}
	bool ok = s->w == 960 && s->h == 600;
	EXPECT_TRUE(ok) << path << " is " << s->w << "x" << s->h;
	SDL_Surface *c = ok ? SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0) : nullptr;
	if (c) {
		for (int y = 0; y < 600; y++)
			memcpy(KEPT[y], (const char *)c->pixels + y * c->pitch, sizeof KEPT[y]);
		SDL_FreeSurface(c);
	}
	SDL_FreeSurface(s);
	return c != nullptr;
}

bool
exists(const std::string &path)
{
	struct stat st;
	return lstat(path.c_str(), &st) == 0;
}

const char FAILED_MSG[] = "The disc image did not download: the server could not be reached.";
const char CRASHED_MSG[] = "The game stopped unexpectedly.";
const char SAMPLE_LAST[] = "[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o";

// A word of BKF_LAUNCHER_STATE, the sample content it stands for and the screen that
// shows, with the logs in logs.
struct Word {
	const char *word;  // nullptr: BKF_LAUNCHER_STATE unset
	int state, needs_disc;
	const char *msg;
	Look look;
};

std::vector<Word>
words(const std::string &logs)
{
	const Look ready = {
		{title("Brackenfold"), {&F_BODY, 48, 112, 0, RGB_SOFT, "Ready to play. Version 1.5.6."}},
		{{LEFT_FACE, "Quit", false}, {RIGHT_FACE, "Play", true}},
	};
	return {
		{"setup", SETUP, 1, "",
			{join({{title("Set up Brackenfold")}, setup_text()}),
				quit_and("Download and Build")}},
		{"update", UPDATE, 0, "",
			{join({{title("Updating Brackenfold")}, update_text()}),
				{{LEFT_FACE, "Quit", false}, {RIGHT_FACE, "Build", true}}}},
		{"working", WORKING, 1, "",
			working_look("Set up Brackenfold", "Step 7 of 7: Compiling", "12:34",
				{48, 160, 362, 14}, SAMPLE_LAST)},
		{"failed", FAILED, 1, FAILED_MSG,
			{{title("Set up Brackenfold"), {&F_BODY, 48, 112, 0, RGB_WHITE, FAILED_MSG},
				logs_line(logs)},
				quit_and("Try Again")}},
		{"crashed", CRASHED, 1, CRASHED_MSG,
			{{title("Brackenfold"), {&F_BODY, 48, 112, 0, RGB_WHITE, CRASHED_MSG},
				logs_line(logs)},
				quit_and("Play Again")}},
		{"ready", READY, 1, "", ready},
		{"Working", READY, 1, "", ready},  // the words are case-sensitive
		{"unknown", READY, 1, "", ready},
		{"", READY, 1, "", ready},
		{nullptr, READY, 1, "", ready},
	};
}

// Draws the word's sample content in this process into PX, as the screenshot mode
// should have: its state, message and build, the rightmost button focused.
void
draw_sample(const Word &w, const std::string &logs)
{
	reset_state();
	S.state = w.state;
	S.needs_disc = w.needs_disc;
	snprintf(S.msg, sizeof S.msg, "%s", w.msg);
	if (w.state == WORKING) {
		S.step = 7;
		S.steps = 7;
		S.progress = 0.42;
		snprintf(S.step_label, sizeof S.step_label, "%s", "Compiling");
		snprintf(S.last_line, sizeof S.last_line, "%s", SAMPLE_LAST);
		S.started_ms = SDL_GetTicks() - 754000;
	}
	snprintf(g_logs, sizeof g_logs, "%s", logs.c_str());
	FOCUS = NO_FOCUS;
	draw();
	grab();
}

// The screenshot in KEPT is the word's screen and the picture draw() paints for it here.
void
expect_shot(const std::string &name, const Word &w, const std::string &logs)
{
	expect_look(name.c_str(), w.look, KEPT);
	draw_sample(w, logs);
	expect_same(name.c_str(), KEPT, "shot", PX, "drawn");
}

class Shots : public Canvas {};

// Every word gives its 960x600 screen and exit status 0, with no display at all.
TEST_F(Shots, EveryWordGivesItsScreen)
{
	std::string home = tmp_dir() + "/home 100%s";
	for (const Word &w : words(home + "/logs")) {
		std::string name = w.word ? (*w.word ? w.word : "empty") : "unset";
		SCOPED_TRACE(name);
		std::string shot = tmp_dir() + "/" + name + ".bmp";
		std::vector<std::string> env = {"BKF_LAUNCHER_SHOT=" + shot, "BKF_HOME=" + home};
		if (w.word)
			env.push_back(std::string("BKF_LAUNCHER_STATE=") + w.word);
		Outcome r = run(launcher(), env);
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.err, "");
		if (load(shot))
			expect_shot(name, w, home + "/logs");
	}
}

// With no DejaVu file anywhere (an empty /usr/share/fonts in a mount namespace of the
// run's own): one warning line, and the screens without their texts.
TEST_F(Shots, NoFontsAnywhere)
{
	if (run({"unshare", "-m", "true"}, {}).status != 0)
		GTEST_SKIP() << "no mount namespace for this user";
	if (access("/usr/share/fonts", F_OK) != 0)
		GTEST_SKIP() << "/usr/share/fonts does not exist to be hidden";
	std::string home = tmp_dir() + "/home";
	fonts_off();
	for (const Word &w : words(home + "/logs")) {
		if (!w.word || !*w.word || !strcmp(w.word, "Working"))
			continue;
		SCOPED_TRACE(w.word);
		std::string shot = tmp_dir() + "/" + w.word + ".bmp";
		Outcome r = run({"unshare", "-m", "sh", "-c",
			"mount -t tmpfs none /usr/share/fonts && exec \"$0\"", BKF_LAUNCHER_PATH},
			{"BKF_LAUNCHER_SHOT=" + shot, "BKF_HOME=" + home,
				std::string("BKF_LAUNCHER_STATE=") + w.word});
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.err, "launcher: no DejaVu Sans font found; text will be missing\n");
		if (load(shot))
			expect_shot(w.word, w, home + "/logs");
	}
}

// A path that cannot be written: exit status 1, and no file left behind.
TEST_F(Shots, UnwritablePathsFail)
{
	std::string dir = tmp_dir();
	std::string link = dir + "/full.bmp";
	(void)unlink(link.c_str());
	ASSERT_EQ(symlink("/dev/full", link.c_str()), 0) << strerror(errno);
	struct Row {
		const char *what;
		std::string path, gone;  // gone: a path that must not exist afterwards
	} rows[] = {
		{"missing directory", dir + "/nope/shot.bmp", dir + "/nope"},
		{"a directory", dir, ""},
		{"empty path", "", ""},
		{"a full device, through a link", link, ""},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(r.what);
		Outcome o = run(launcher(), {"BKF_LAUNCHER_SHOT=" + r.path});
		EXPECT_EQ(o.status, 1) << o.err;
		EXPECT_EQ(o.err.rfind("launcher: ", 0), 0u) << o.err;
		if (!r.gone.empty()) {
			EXPECT_FALSE(exists(r.gone));
		}
	}
	struct stat st;
	EXPECT_EQ(lstat(link.c_str(), &st), 0) << "the link was removed";
	EXPECT_TRUE(S_ISLNK(st.st_mode));
	ASSERT_EQ(stat("/dev/full", &st), 0) << "/dev/full is gone";
	EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/full is no longer a device";
	EXPECT_TRUE(S_ISDIR((stat(dir.c_str(), &st), st.st_mode)));
}

// A file system that fills up during the save: exit status 1, the partial file removed.
TEST_F(Shots, FullFileSystemLeavesNoFile)
{
	if (run({"unshare", "-m", "true"}, {}).status != 0)
		GTEST_SKIP() << "no mount namespace for this user";
	std::string dir = tmp_dir() + "/small";
	(void)mkdir(dir.c_str(), 0755);
	// The mount lives only in the run's namespace; the shell reports 99 when the
	// launcher left its file.
	Outcome r = run({"unshare", "-m", "sh", "-c",
		"mount -t tmpfs -o size=64k none \"$1\" || exit 98; \"$0\"; s=$?; "
		"[ -e \"$1/shot.bmp\" ] && exit 99; exit $s",
		BKF_LAUNCHER_PATH, dir}, {"BKF_LAUNCHER_SHOT=" + dir + "/shot.bmp"});
	if (r.status == 98)
		GTEST_SKIP() << "cannot mount a tmpfs: " << r.err;
	EXPECT_EQ(r.status, 1) << r.err;
}

}  // namespace
