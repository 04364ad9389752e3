// test_game.cpp: play() with fake games, sh scripts that record their argument vector
// and exit as told: the vector and its bound, the first-run marker, the log rotation,
// a terminal standard error, the outcomes, "Play Again", and data directories that
// cannot be written.

#include "fakes.h"
#include "support.h"

#include <fcntl.h>
#include <vector>

namespace {

class Game : public ::testing::Test {
protected:
	std::string dir, home, rec, err, out;

	void SetUp() override
	{
		bkf::canvas_up();
		launcher_reset();
		dir = temp_dir("game");
		home = dir + "/home";
		rec = dir + "/argv";
		err = dir + "/launcher.err";
		out = dir + "/launcher.out";
		set_dirs("/usr/bin/python3", dir + "/share", home);
		S.state = READY;
		snprintf(S.msg, sizeof S.msg, "%s", "from before");
		SDL_ShowWindow(WIN);
	}

	void TearDown() override
	{
		launcher_reset();
		remove_tree(dir);
	}

	std::string exe() { return home + "/build/host/bkf"; }

	// The fake game: records "$#" and its vector, one entry a line, says whether the
	// marker was there, counts its runs, writes to both outputs, then runs `end`.
	void game(const std::string &end, const std::string &at = "")
	{
		std::string runs = dir + "/runs";
		write_sh(at.empty() ? exe() : at,
			"{ echo $#; printf '%s\\n' \"$0\" \"$@\"; } > " + rec + "\n"
			"[ -e " + home + "/.launched ] && echo yes > " + dir + "/marker_seen\n"
			"ls /proc/$$/fd > " + dir + "/fds\n"
			"n=$(cat " + runs + " 2>/dev/null || echo 0); n=$((n+1)); echo $n > " + runs + "\n"
			"echo \"run $n out\"\necho \"run $n err\" >&2\n" + end + "\n");
	}

	// play() with the launcher's standard output and error in files of the test's, so
	// that neither is a terminal whoever runs the test.
	int play_quiet(int argc, char **argv, int fd2 = -1)
	{
		int o = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
		int e = fd2 >= 0 ? fd2 : open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
		int save1 = dup(1), save2 = dup(2);
		fflush(stdout);
		(void)dup2(o, 1);
		(void)dup2(e, 2);
		(void)dup2(open("/dev/null", O_RDONLY), 57);  // a descriptor the game must not get
		int r = play(WIN, argc, argv);
		(void)close(57);
		(void)dup2(save1, 1);
		(void)dup2(save2, 2);
		(void)close(save1);
		(void)close(save2);
		(void)close(o);
		if (fd2 < 0)
			(void)close(e);
		return r;
	}

	std::vector<std::string> recorded()
	{
		std::vector<std::string> v;
		std::string s = read_file(rec), cur;
		if (s == "<missing>")
			return v;
		for (char c : s) {
			if (c == '\n') {
				v.push_back(cur);
				cur.clear();
			} else {
				cur += c;
			}
		}
		return v;
	}

	bool shown() { return (SDL_GetWindowFlags(WIN) & SDL_WINDOW_SHOWN) != 0; }
};

// The launcher's command line: its name and then n arguments "a1".."an", or the given.
struct Argv {
	std::vector<std::string> s;
	std::vector<char *> p;
	Argv(int n, std::vector<std::string> given = {})
	{
		s.push_back("brackenfold-launcher");
		for (int i = 1; i <= n; i++)
			s.push_back("a" + std::to_string(i));
		for (auto &g : given)
			s.push_back(g);
		for (auto &x : s)
			p.push_back(x.data());
		p.push_back(nullptr);
	}
	int argc() { return (int)s.size(); }
	char **argv() { return p.data(); }
};

// The vector the game gets: the fixed slots, the first-run options on a first run, the
// launcher's arguments within the bound (63 texts at most, the null in slot 63).
TEST_F(Game, ArgumentVector)
{
	struct {
		const char *name;
		int first_run, nargs;
		std::vector<std::string> given;
		int reach;  // how many of the launcher's arguments reach the game
	} cases[] = {
		{"first run, no arguments", 1, 0, {}, 0},
		{"second run, no arguments", 0, 0, {}, 0},
		{"first run, two arguments", 1, 0, {"--one", "two words"}, 2},
		{"second run, two arguments", 0, 0, {"%s%n", ""}, 2},
		{"first run, 57 arguments", 1, 57, {}, 57},
		{"first run, 58 arguments", 1, 58, {}, 57},
		{"first run, 100 arguments", 1, 100, {}, 57},
		{"second run, 59 arguments", 0, 59, {}, 59},
		{"second run, 60 arguments", 0, 60, {}, 59},
		{"second run, 100 arguments", 0, 100, {}, 59},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		remove_tree(home);
		game("exit 0");
		if (!c.first_run)
			write_file(home + "/.launched", "");
		Argv a(c.nargs, c.given);
		EXPECT_EQ(play_quiet(a.argc(), a.argv()), 0);
		std::vector<std::string> want = {exe(), "--game", home + "/game", "--run"};
		if (c.first_run) {
			want.push_back("--resolution");
			want.push_back("native");
		}
		for (int i = 0; i < c.reach; i++)
			want.push_back(a.s[(size_t)i + 1]);
		std::vector<std::string> got = recorded();
		ASSERT_FALSE(got.empty());
		EXPECT_EQ(got[0], std::to_string(want.size() - 1)) << "the game's argument count";
		got.erase(got.begin());
		EXPECT_EQ(got, want);
		EXPECT_LE(want.size(), 63u);
		struct stat st;
		ASSERT_EQ(stat((home + "/.launched").c_str(), &st), 0);
		EXPECT_EQ(st.st_size, 0);
		EXPECT_TRUE(exists(dir + "/marker_seen")) << "the marker is made before the game runs";
		EXPECT_EQ(("\n" + read_file(dir + "/fds")).find("\n57\n"), std::string::npos);
		(void)remove((dir + "/marker_seen").c_str());
	}
}

// How the game ends decides: 3, a signal and 127 bring the crashed screen back with the
// window shown; any other status is a normal end, the window stays hidden.
TEST_F(Game, Outcomes)
{
	struct {
		const char *name, *end;
		int ret;
		const char *msg;  // null: a normal end, state and message unchanged
	} cases[] = {
		{"exit 0", "exit 0", 0, nullptr},
		{"exit 1", "exit 1", 0, nullptr},
		{"exit 2", "exit 2", 0, nullptr},
		{"exit 255", "exit 255", 0, nullptr},
		{"exit 126", "exit 126", 0, nullptr},
		{"exit 4", "exit 4", 0, nullptr},
		{"exit 3", "exit 3", 1, "The game stopped unexpectedly."},
		{"SIGKILL", "kill -KILL $$", 1, "The game stopped unexpectedly."},
		{"SIGSEGV", "ulimit -c 0; kill -SEGV $$", 1, "The game stopped unexpectedly."},
		{"exit 127", "exit 127", 1, "The game could not start."},
		// A wrapper script's report of a crash: 128 plus the signal.
		{"exit 139 (SIGSEGV)", "exit 139", 1, "The game stopped unexpectedly."},
		{"exit 134 (SIGABRT)", "exit 134", 1, "The game stopped unexpectedly."},
		{"exit 135 (SIGBUS)", "exit 135", 1, "The game stopped unexpectedly."},
		{"exit 136 (SIGFPE)", "exit 136", 1, "The game stopped unexpectedly."},
		{"exit 132 (SIGILL)", "exit 132", 1, "The game stopped unexpectedly."},
		{"exit 137 (SIGKILL)", "exit 137", 1, "The game stopped unexpectedly."},
		{"exit 130 (SIGINT: the player)", "exit 130", 0, nullptr},
		{"exit 143 (SIGTERM: the player)", "exit 143", 0, nullptr},
		{"exit 128", "exit 128", 0, nullptr},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		remove_tree(home);
		(void)remove((dir + "/runs").c_str());
		S.state = READY;
		snprintf(S.msg, sizeof S.msg, "%s", "from before");
		SDL_ShowWindow(WIN);
		game(c.end);
		Argv a(0);
		EXPECT_EQ(play_quiet(a.argc(), a.argv()), c.ret);
		EXPECT_EQ(S.state, c.msg ? CRASHED : READY);
		EXPECT_STREQ(S.msg, c.msg ? c.msg : "from before");
		EXPECT_EQ(shown(), c.ret == 1);
		EXPECT_EQ(read_file(home + "/logs/bkf.log"), "run 1 out\nrun 1 err\n");
	}
	EXPECT_EQ(read_file(err), "") << "the launcher wrote about the launch";
}

// A wait that fails says nothing of how the game ended: with SIGCHLD ignored the kernel
// reaps the game at once, and the launcher must not take that for a normal end.
TEST_F(Game, FailedWaitIsNoNormalEnd)
{
	struct sigaction ign = {}, old;
	ign.sa_handler = SIG_IGN;
	ASSERT_EQ(sigaction(SIGCHLD, &ign, &old), 0);
	game("exit 0");
	Argv a(0);
	int r = play_quiet(a.argc(), a.argv());
	(void)sigaction(SIGCHLD, &old, nullptr);
	EXPECT_EQ(r, 1);
	EXPECT_EQ(S.state, CRASHED);
	EXPECT_STREQ(S.msg, "The game stopped unexpectedly.");
}

// A game that cannot be run: "could not start", and the child's single line in bkf.log.
TEST_F(Game, CannotStart)
{
	struct {
		const char *name;
		int kind;  // 0 missing, 1 not executable, 2 a directory, 3 no format
		const char *why;
	} cases[] = {
		{"missing", 0, "No such file or directory"},
		{"not executable", 1, "Permission denied"},
		{"a directory", 2, "Permission denied"},
		{"not a program", 3, "Exec format error"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		remove_tree(home);
		S.state = READY;
		if (c.kind == 1)
			write_file(exe(), "#!/bin/sh\nexit 0\n", 0644);
		else if (c.kind == 2)
			make_dirs(exe());
		else if (c.kind == 3)
			write_file(exe(), "just some text\n", 0755);
		Argv a(0);
		EXPECT_EQ(play_quiet(a.argc(), a.argv()), 1);
		EXPECT_EQ(S.state, CRASHED);
		EXPECT_STREQ(S.msg, "The game could not start.");
		EXPECT_TRUE(shown());
		EXPECT_EQ(read_file(home + "/logs/bkf.log"), "cannot run " + exe() + ": " + c.why + "\n");
	}
	EXPECT_EQ(read_file(err), "");
}

// With standard error on a terminal the game keeps the launcher's outputs: no bkf.log,
// yet an existing one still moves to bkf.1.log.
TEST_F(Game, TerminalStandardError)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY);
	ASSERT_GE(master, 0);
	ASSERT_EQ(grantpt(master), 0);
	ASSERT_EQ(unlockpt(master), 0);
	int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
	ASSERT_GE(slave, 0);
	ASSERT_TRUE(isatty(slave));

	for (int missing = 0; missing <= 1; missing++) {
		SCOPED_TRACE(missing ? "missing game" : "game");
		remove_tree(home);
		write_file(home + "/logs/bkf.log", "old log\n");
		if (!missing)
			game("exit 0");
		Argv a(0);
		EXPECT_EQ(play_quiet(a.argc(), a.argv(), slave), missing ? 1 : 0);
		EXPECT_FALSE(exists(home + "/logs/bkf.log"));
		EXPECT_EQ(read_file(home + "/logs/bkf.1.log"), "old log\n");

		char buf[4096];
		std::string seen;
		struct pollfd p = {master, POLLIN, 0};
		while (poll(&p, 1, 200) == 1) {
			ssize_t n = read(master, buf, sizeof buf);
			if (n <= 0)
				break;
			seen.append(buf, (size_t)n);
		}
		std::string want = missing ? "cannot run " + exe() + ": No such file or directory"
			: "run 1 err";
		EXPECT_NE(seen.find(want), std::string::npos) << seen;
		(void)remove((dir + "/runs").c_str());
	}
	(void)close(slave);
	(void)close(master);
}

// "Play Again" after a crash runs the whole procedure again: the focus index carries
// over to the crashed screen's "Play Again", the crashed run's log becomes bkf.1.log,
// the first-run options are not given twice, and act() returns the negation of play().
TEST_F(Game, PlayAgain)
{
	std::string runs = dir + "/runs";
	game("[ \"$n\" = 1 ] && exit 3\nexit 0");
	Argv a(0);
	draw();
	FOCUS = 1;
	ASSERT_EQ(B[FOCUS].action, ACT_PLAY);

	int save2 = dup(2);
	(void)dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 2);
	int first = act(ACT_PLAY, a.argc(), a.argv());
	std::vector<std::string> v1 = recorded();
	draw();
	int focus = FOCUS;
	const char *label = B[focus].label;
	int action = B[focus].action;
	int second = act(ACT_PLAY, a.argc(), a.argv());
	(void)dup2(save2, 2);
	(void)close(save2);

	EXPECT_EQ(first, 0) << "a crash keeps the launcher going";
	EXPECT_EQ(focus, 1);
	EXPECT_STREQ(label, "Play Again");
	EXPECT_EQ(action, ACT_PLAY);
	EXPECT_EQ(second, 1) << "a normal end ends the launcher";
	EXPECT_EQ(S.state, CRASHED) << "the normal end leaves the state";
	EXPECT_FALSE(shown());
	EXPECT_EQ(v1.size(), 7u);
	EXPECT_EQ(recorded().size(), 5u) << "the second run got the first-run options";
	EXPECT_EQ(read_file(home + "/logs/bkf.1.log"), "run 1 out\nrun 1 err\n");
	EXPECT_EQ(read_file(home + "/logs/bkf.log"), "run 2 out\nrun 2 err\n");
}

// Data directories that cannot be written: the game still runs, its output on the
// launcher's own, and no failure passes for a normal end.
TEST_F(Game, UnwritableDataDirectory)
{
	// a file where the data directory should be: there is no game to run
	write_file(home, "not a directory");
	Argv a(0);
	EXPECT_EQ(play_quiet(a.argc(), a.argv()), 1);
	EXPECT_EQ(S.state, CRASHED);
	EXPECT_STREQ(S.msg, "The game could not start.");
	EXPECT_EQ(read_file(err), "cannot run " + exe() + ": Not a directory\n");

	// a file where the logs directory should be: no log, output on the launcher's own
	remove_tree(home);
	(void)remove(home.c_str());
	(void)remove(err.c_str());
	game("exit 0");
	write_file(home + "/logs", "not a directory");
	S.state = READY;
	EXPECT_EQ(play_quiet(a.argc(), a.argv()), 0);
	EXPECT_EQ(read_file(err), "run 1 err\n");
	EXPECT_EQ(read_file(out), "run 1 out\n");
	EXPECT_EQ(recorded().size(), 7u);

	// a FIFO where bkf.log goes, which the rotation cannot move (bkf.1.log is a folder
	// that is not empty): not waited on, and not written; output on the launcher's own
	remove_tree(home);
	(void)remove((dir + "/runs").c_str());
	(void)remove(err.c_str());
	(void)remove(out.c_str());
	game("exit 0");
	make_dirs(home + "/logs/bkf.1.log/kept");
	ASSERT_EQ(mkfifo((home + "/logs/bkf.log").c_str(), 0644), 0);
	EXPECT_EQ(play_quiet(a.argc(), a.argv()), 0);
	EXPECT_EQ(read_file(err), "run 1 err\n");
	EXPECT_EQ(read_file(out), "run 1 out\n");

	// a marker that cannot be made: the first-run options again on every run
	remove_tree(home);
	(void)remove((dir + "/runs").c_str());
	game("exit 0");
	ASSERT_EQ(symlink((dir + "/nowhere/marker").c_str(), (home + "/.launched").c_str()), 0);
	for (int run = 1; run <= 2; run++) {
		SCOPED_TRACE(run);
		EXPECT_EQ(play_quiet(a.argc(), a.argv()), 0);
		EXPECT_EQ(recorded().size(), 7u);
	}

	// a data directory path longer than every buffer: cut, fails, reported
	std::string longhome = "/nonexistent/" + std::string(1000, 'h');
	set_dirs("/usr/bin/python3", dir + "/share", longhome);
	(void)remove(err.c_str());
	EXPECT_EQ(play_quiet(a.argc(), a.argv()), 1);
	EXPECT_EQ(S.state, CRASHED);
	EXPECT_STREQ(S.msg, "The game could not start.");
	EXPECT_EQ(read_file(err).rfind("cannot run /nonexistent/hhh", 0), 0u);

	// a read-only data directory (meaningless as root, who writes anyway)
	if (geteuid() == 0)
		return;
	set_dirs("/usr/bin/python3", dir + "/share", home);
	remove_tree(home);
	(void)remove(err.c_str());
	game("exit 0");
	ASSERT_EQ(chmod(home.c_str(), 0555), 0);
	for (int run = 1; run <= 2; run++) {
		SCOPED_TRACE(run);
		EXPECT_EQ(play_quiet(a.argc(), a.argv()), 0);
		EXPECT_EQ(recorded().size(), 7u) << "no marker, so the first-run options again";
	}
	EXPECT_FALSE(exists(home + "/logs"));
	(void)chmod(home.c_str(), 0755);
}

}  // namespace
