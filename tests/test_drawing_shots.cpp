// test_drawing_shots.cpp: the screenshot mode of the real launcher. Each run gets the
// test's environment without SDL_VIDEODRIVER, DISPLAY or any BKF_ variable, plus the
// ones a row names; its BMP is loaded and compared, pixel for pixel, with the screen
// painted here from its description. Runs that cannot save must end with status 1 and
// leave nothing behind.

#include "drawing_expect.h"

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

// Loads a screenshot into GOT; false (with a failure) when it is not a 960x600 picture.
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
			memcpy(GOT[y], (const char *)c->pixels + y * c->pitch, sizeof GOT[y]);
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

struct Word {
	const char *word;  // nullptr: BKF_LAUNCHER_STATE unset
	int state, needs_disc, focus;
	const char *msg;
};

const Word WORDS[] = {
	{"setup", SETUP, 1, 1, ""},
	{"update", UPDATE, 0, 1, ""},
	{"working", WORKING, 1, 0, ""},
	{"failed", FAILED, 1, 1, "The disc image did not download: the server could not be reached."},
	{"crashed", CRASHED, 1, 1, "The game stopped unexpectedly."},
	{"ready", READY, 1, 1, ""},
	{"Working", READY, 1, 1, ""},  // the words are case-sensitive
	{"unknown", READY, 1, 1, ""},
	{"", READY, 1, 1, ""},
	{nullptr, READY, 1, 1, ""},
};

// The screen of a word as its sample content describes it.
void
expect_word(const Word &w, const std::string &logs)
{
	Look k;
	k.needs_disc = w.needs_disc;
	k.msg = w.msg;
	k.logs = logs.c_str();
	k.focus = w.focus;
	if (w.state == WORKING) {
		k.step = "Step 7 of 7: Compiling";
		k.clock = "12:34";
		k.fill_w = 362;
		k.last = "[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o";
	}
	expect_screen(w.state, k);
}

class Shots : public Canvas {};

// Every word gives its 960x600 screen and exit status 0, with no display at all.
TEST_F(Shots, EveryWordGivesItsScreen)
{
	std::string home = tmp_dir() + "/home 100%s";
	for (const Word &w : WORDS) {
		std::string name = w.word ? (*w.word ? w.word : "empty") : "unset";
		SCOPED_TRACE(name);
		std::string shot = tmp_dir() + "/" + name + ".bmp";
		std::vector<std::string> env = {"BKF_LAUNCHER_SHOT=" + shot, "BKF_HOME=" + home};
		if (w.word)
			env.push_back(std::string("BKF_LAUNCHER_STATE=") + w.word);
		Outcome r = run(launcher(), env);
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.err, "");
		if (!load(shot))
			continue;
		expect_got(name.c_str(), [&] { expect_word(w, home + "/logs"); });
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
	for (const Word &w : WORDS) {
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
		if (!load(shot))
			continue;
		expect_got(w.word, [&] { expect_word(w, home + "/logs"); });
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
