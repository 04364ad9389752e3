// test_installer.cpp: the installer's child processes through fake installers: the
// status query (its answers, its failures, its time limit, the command line and
// environment it gets), the build run (environment, joined output, install.log, the
// outcome table, one child at a time), cancelling through the process group, and the
// bounded wait at shutdown.

#include "fakes.h"

#include <climits>
#include <cmath>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <vector>

namespace {

class Installer : public ::testing::Test {
protected:
	std::string dir, python, share, home;

	void SetUp() override
	{
		launcher_reset();
		(void)unsetenv("BKF_PGROUP");
		(void)unsetenv("PYTHONUNBUFFERED");
		dir = temp_dir("installer");
		python = dir + "/bin/python3";
		share = dir + "/share";
		home = dir + "/home";
		set_dirs(python, share, home);
	}

	void TearDown() override
	{
		launcher_reset();
		remove_tree(dir);
	}

	// The fake interpreter: the installer's whole behaviour as an sh body.
	// A body that starts with "#!" names its own interpreter.
	void fake(const std::string &body)
	{
		if (body.rfind("#!", 0) == 0)
			write_file(python, body, 0755);
		else
			write_sh(python, body);
	}

	// A real interpreter with a fake installer script where the command line points.
	void fake_py(const std::string &body)
	{
		set_dirs("/usr/bin/python3", share, home);
		write_file(share + "/src/bkf/tools/install/install.py", body);
	}

	std::string log() { return read_file(home + "/logs/install.log"); }
};

std::string
cannot_run_status(const char *python)
{
	return std::string("The installer could not run (") + python +
		"). Reinstalling the app may help.";
}

// [SECTION] Status query ------------------------------------------------------------

struct StatusCase {
	const char *name;
	const char *body;  // sh body of the fake interpreter
	int needs_disc;    // before the query
	int state;
	int needs_disc_after;
};

const StatusCase STATUS_CASES[] = {
	{"both marks", "printf '%s' '{\"ready\": true, \"needs_disc\": true}'", 0, READY, 0},
	{"ready keeps needs_disc", "printf '{\"ready\": true}'", 1, READY, 1},
	{"ready mark without its space", "printf '{\"ready\":true}'", 1, UPDATE, 0},
	{"needs-disc mark without its space", "printf '{\"ready\": false, \"needs_disc\":true}'",
		0, UPDATE, 0},
	{"ready false with needs-disc", "printf '{\"ready\": false, \"needs_disc\": true}\\n'", 0,
		SETUP, 1},
	{"empty object", "printf '{}'", 1, UPDATE, 0},
	{"mark before a nested object", "printf '{\"ready\": true, \"build\": {\"age\": 3}}'", 0,
		UPDATE, 0},
	{"text before the object", "echo 'checking the game'; echo 'still'; printf '{\"ready\": true}'",
		0, READY, 0},
	{"text after the object holding a {", "printf '{\"ready\": true}\\nlog {x}\\n'", 0, UPDATE, 0},
	{"text after the object without {", "printf '{\"ready\": true}\\nbye\\n'", 0, READY, 0},
	{"answer split across writes", "printf '{\"rea'; sleep 0.05; printf 'dy\": true}'", 0,
		READY, 0},
	{"valid answer, exit status 1", "printf '{\"ready\": true}'; exit 1", 0, FAILED, 0},
	{"valid answer, exit status 127", "printf '{\"ready\": true}'; exit 127", 0, FAILED, 0},
	{"no {", "echo 'Traceback: something went wrong'", 0, FAILED, 0},
	{"no output at all", "exit 0", 0, FAILED, 0},
	{"a NUL before the answer", "printf 'x\\000{\"ready\": true}'", 0, FAILED, 0},
	{"a NUL after the answer hides what follows", "printf '{\"ready\": true}\\000{}'", 0, READY,
		0},
	{"answer past 4095 bytes", "head -c 4095 /dev/zero | tr '\\000' x; printf '{\"ready\": true}'",
		0, FAILED, 0},
	{"mark ends at byte 4095", "head -c 4081 /dev/zero | tr '\\000' x; printf '{\"ready\": true}'",
		0, READY, 0},
	{"mark cut at byte 4095", "head -c 4082 /dev/zero | tr '\\000' x; printf '{\"ready\": true}'",
		0, UPDATE, 0},
	{"answer, then a long tail", "printf '{\"ready\": true}'; head -c 100000 /dev/zero; exit 0", 0,
		READY, 0},
	{"killed by a signal after answering", "printf '{\"ready\": true}'; kill -KILL $$", 0, FAILED,
		0},
	{"ended by SIGTERM", "printf '{\"ready\": true}'; kill -TERM $$", 0, FAILED, 0},
	{"standard error ignored", "printf '{\"ready\": true}' >&2; printf '{}'", 0, UPDATE, 0},
	{"only standard error", "printf '{\"ready\": true}' >&2", 0, FAILED, 0},
	{"% conversions in the answer", "printf '%s' '%s%n%x {\"ready\": true, \"x\": \"%n\"}'", 0,
		READY, 0},
};

TEST_F(Installer, StatusAnswers)
{
	for (const StatusCase &c : STATUS_CASES) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		fake(c.body);
		S.needs_disc = c.needs_disc;
		snprintf(S.msg, sizeof S.msg, "%s", "untouched");
		ASSERT_TRUE(run_status());
		EXPECT_EQ(S.state, c.state);
		EXPECT_EQ(S.needs_disc, c.needs_disc_after);
		if (c.state == FAILED)
			EXPECT_STREQ(S.msg, cannot_run_status(g_python).c_str());
		else
			EXPECT_STREQ(S.msg, "untouched");
		EXPECT_EQ(S.pid, 0);
		EXPECT_EQ(S.fd, -1);
		int st;
		errno = 0;
		EXPECT_EQ(waitpid(-1, &st, WNOHANG), -1) << "a child is left behind";
		EXPECT_EQ(errno, ECHILD);
	}
}

// An interpreter that cannot be run: the message names it, cut at 300 bytes.
TEST_F(Installer, StatusInterpreterCannotRun)
{
	std::string missing = dir + "/no/such/python3";
	std::string noexec = dir + "/bin/python-noexec";
	write_file(noexec, "#!/bin/sh\nprintf '{\"ready\": true}'\n", 0644);
	std::string longpath = dir + "/" + std::string(1000, 'p');
	struct {
		const char *name;
		std::string python;
		std::string msg;
	} cases[] = {
		{"missing", missing, cannot_run_status(missing.c_str())},
		{"not executable", noexec, cannot_run_status(noexec.c_str())},
		{"a directory", dir, cannot_run_status(dir.c_str())},
		{"a 1000-byte path", longpath, cannot_run_status(longpath.substr(0, 300).c_str())},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(c.python, share, home);
		ASSERT_TRUE(run_status());
		EXPECT_EQ(S.state, FAILED);
		EXPECT_EQ(std::string(S.msg), c.msg);
	}
}

// The status query's command line: nine entries, the script and recompiler paths from
// g_share, g_home as the destination; its environment is the launcher's own, without
// the build run's two variables; standard error is /dev/null; no descriptor of the
// launcher's leaks in.
TEST_F(Installer, StatusCommandLineAndEnvironment)
{
	std::string rec = dir + "/rec";
	fake("printf '%s\\n' \"$0\" \"$@\" > " + rec + ".argv\n"
		"env > " + rec + ".env\n"
		"readlink /proc/$$/fd/2 > " + rec + ".err\n"
		"ls /proc/$$/fd > " + rec + ".fds\n"
		"printf '{\"ready\": true}'\n");
	ASSERT_EQ(setenv("BKF_TEST_MARK", "inherited", 1), 0);
	ASSERT_EQ(dup2(open("/dev/null", O_RDONLY), 57), 57);  // an open descriptor of the launcher
	ASSERT_TRUE(run_status());
	(void)close(57);
	(void)unsetenv("BKF_TEST_MARK");
	EXPECT_EQ(S.state, READY);

	EXPECT_EQ(read_file(rec + ".argv"), python + "\n-I\n" + share +
		"/src/bkf/tools/install/install.py\n--dest\n" + home + "\n--korvex\n" + share +
		"/src/korvex\n--status\n");
	std::string env = "\n" + read_file(rec + ".env");
	EXPECT_NE(env.find("\nBKF_TEST_MARK=inherited\n"), std::string::npos);
	EXPECT_EQ(env.find("\nBKF_PGROUP="), std::string::npos);
	EXPECT_EQ(env.find("\nPYTHONUNBUFFERED="), std::string::npos);
	EXPECT_EQ(read_file(rec + ".err"), "/dev/null\n");
	EXPECT_EQ(("\n" + read_file(rec + ".fds")).find("\n57\n"), std::string::npos);
}

// The vector itself: the mode in entry 7, the null in entry 8, both paths bounded.
TEST_F(Installer, InstallArgv)
{
	const char *argv[9];
	install_argv(argv, "--download");
	EXPECT_EQ(argv[0], g_python);
	EXPECT_STREQ(argv[1], "-I");
	EXPECT_EQ(std::string(argv[2]), share + "/src/bkf/tools/install/install.py");
	EXPECT_STREQ(argv[3], "--dest");
	EXPECT_EQ(argv[4], g_home);
	EXPECT_STREQ(argv[5], "--korvex");
	EXPECT_EQ(std::string(argv[6]), share + "/src/korvex");
	EXPECT_STREQ(argv[7], "--download");
	EXPECT_EQ(argv[8], nullptr);

	std::string longshare(1023, 's');
	set_dirs(python, longshare, home);
	install_argv(argv, "--status");
	EXPECT_EQ(std::string(argv[2]), (longshare + "/src/bkf/tools/install/install.py").substr(0, 1199));
	EXPECT_EQ(std::string(argv[6]), (longshare + "/src/korvex").substr(0, 1199));
	EXPECT_STREQ(argv[7], "--status");
}

// A real interpreter runs the script where the command line points, with "-I".
TEST_F(Installer, StatusThroughRealInterpreter)
{
	fake_py("import sys\n"
		"ok = sys.argv[1:] == ['--dest', '" + home + "', '--korvex', '" + share +
		"/src/korvex', '--status'] and sys.flags.isolated\n"
		"print('{\"ready\": false, \"needs_disc\": %s}' % ('true' if ok else 'false'))\n");
	ASSERT_TRUE(run_status());
	EXPECT_EQ(S.state, SETUP);
	EXPECT_EQ(S.needs_disc, 1);
}

// An installer that never answers, or answers and never exits, is killed and reaped
// once the (here lowered) limit has passed, and the query counts as failed.
TEST_F(Installer, StatusTimeLimit)
{
	std::string pidfile = dir + "/pid";
	struct {
		const char *name;
		std::string body;
	} cases[] = {
		{"silent", "echo $$ > " + pidfile + "\nexec sleep 30\n"},
		{"half an answer", "echo $$ > " + pidfile + "\nprintf '{\"rea'\nexec sleep 30\n"},
		{"answers, closes its output, lingers",
			"echo $$ > " + pidfile + "\nprintf '{\"ready\": true}'\nexec >&-\nexec sleep 30\n"},
		{"ignores SIGTERM", "trap '' TERM\necho $$ > " + pidfile + "\nexec sleep 30\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		(void)remove(pidfile.c_str());
		STATUS_LIMIT_MS = 300;
		fake(c.body);
		ASSERT_TRUE(run_status());
		EXPECT_EQ(S.state, FAILED);
		EXPECT_STREQ(S.msg, cannot_run_status(g_python).c_str());
		pid_t pid = read_pid(pidfile);
		ASSERT_GT(pid, 0);
		EXPECT_TRUE(reaped(pid)) << "the status child is left as a zombie or still runs";
		EXPECT_TRUE(dead(pid));
	}
}

// [SECTION] Build run ---------------------------------------------------------------

// The child gets BKF_PGROUP=1 and PYTHONUNBUFFERED=1, replacing values present; the
// launcher's own environment stays as it was. The command line ends in "--download".
TEST_F(Installer, BuildEnvironmentAndCommandLine)
{
	std::string rec = dir + "/rec";
	struct {
		const char *name;
		const char *pgroup, *unbuffered;  // in the launcher's environment; null: unset
	} cases[] = {
		{"both unset", nullptr, nullptr},
		{"both present", "0", "no"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		if (c.pgroup) {
			ASSERT_EQ(setenv("BKF_PGROUP", c.pgroup, 1), 0);
		}
		if (c.unbuffered) {
			ASSERT_EQ(setenv("PYTHONUNBUFFERED", c.unbuffered, 1), 0);
		}
		fake("printf '%s\\n' \"$0\" \"$@\" > " + rec + ".argv\n"
			"env > " + rec + ".env\n"
			"ls /proc/$$/fd > " + rec + ".fds\n");
		ASSERT_EQ(dup2(open("/dev/null", O_RDONLY), 57), 57);
		start_build();
		(void)close(57);
		ASSERT_TRUE(drain_build());
		EXPECT_EQ(S.state, READY);

		EXPECT_EQ(read_file(rec + ".argv"), python + "\n-I\n" + share +
			"/src/bkf/tools/install/install.py\n--dest\n" + home + "\n--korvex\n" + share +
			"/src/korvex\n--download\n");
		std::string env = "\n" + read_file(rec + ".env");
		EXPECT_NE(env.find("\nBKF_PGROUP=1\n"), std::string::npos);
		EXPECT_NE(env.find("\nPYTHONUNBUFFERED=1\n"), std::string::npos);
		EXPECT_EQ(("\n" + read_file(rec + ".fds")).find("\n57\n"), std::string::npos);

		const char *pg = getenv("BKF_PGROUP"), *ub = getenv("PYTHONUNBUFFERED");
		EXPECT_STREQ(pg ? pg : "<unset>", c.pgroup ? c.pgroup : "<unset>");
		EXPECT_STREQ(ub ? ub : "<unset>", c.unbuffered ? c.unbuffered : "<unset>");
		(void)unsetenv("BKF_PGROUP");
		(void)unsetenv("PYTHONUNBUFFERED");
	}
}

// Standard output and standard error share one pipe: their lines arrive in the order
// written, and the log holds them so.
TEST_F(Installer, BuildJoinsOutputAndErrorInOrder)
{
	fake("echo one\necho two >&2\necho three\necho '@step 1 2 four' >&2\necho five >&2\n");
	start_build();
	ASSERT_TRUE(drain_build());
	EXPECT_EQ(log(), "one\ntwo\nthree\n@step 1 2 four\nfive\n");
	EXPECT_STREQ(S.last_line, "five");
	EXPECT_STREQ(S.step_label, "four");
	EXPECT_EQ(S.state, READY);
}

// install.log holds every byte as read: carriage returns, NULs, bytes that are no
// UTF-8, protocol lines, a line past the assembly limit, and an unfinished last line,
// which reaches the log only.
TEST_F(Installer, BuildLogHoldsExactlyTheBytes)
{
	static const char odd[] = "\0\xff\xfe %s%n\n";  // a NUL, bytes that are no UTF-8, conversions
	std::vector<std::string> chunks = {
		"@step 1 3 Fetch\r\n", "[1/4] comp", "iling a.c\n", std::string(odd, sizeof odd - 1),
		std::string(9000, 'x') + "\n", "@progress 0.5\r\n@done\n", "done here\n",
		"tail without a newline"};
	std::string script = "import os, sys, time\nfor c in [";
	std::string all;
	for (const std::string &c : chunks) {
		script += "bytes.fromhex('";
		for (unsigned char b : c) {
			char hex[3];
			snprintf(hex, sizeof hex, "%02x", b);
			script += hex;
		}
		script += "'),";
		all += c;
	}
	script += "]:\n    os.write(1, c)\n    time.sleep(0.01)\n";
	fake_py(script);
	start_build();
	ASSERT_TRUE(drain_build());
	EXPECT_EQ(S.state, READY);
	std::string got = log();
	EXPECT_EQ(got.size(), all.size());
	EXPECT_TRUE(got == all) << "install.log differs from what the installer wrote";
	EXPECT_STREQ(S.last_line, "done here");
	EXPECT_EQ(S.step, 1);
	EXPECT_EQ(S.progress, 0.5);
	EXPECT_EQ(S.line_len, strlen("tail without a newline"));
}

// Each start truncates the log, so it holds the latest run only; the log is flushed at
// every read, so it is complete while the installer still runs.
TEST_F(Installer, BuildLogTruncatedFlushed)
{
	write_file(home + "/logs/install.log", std::string(10000, 'o'));
	std::string go = dir + "/go", runs = dir + "/runs";
	fake("n=$(cat " + runs + " 2>/dev/null || echo 0); n=$((n+1)); echo $n > " + runs + "\n"
		"echo \"run $n\"\n"
		"while [ ! -e " + go + " ]; do sleep 0.01; done\n");
	for (int run = 1; run <= 2; run++) {
		SCOPED_TRACE(run);
		(void)remove(go.c_str());
		start_build();
		std::string want = "run " + std::to_string(run);
		ASSERT_TRUE(pump_until([&] { return want == S.last_line; }));
		EXPECT_EQ(log(), want + "\n") << "not flushed, or not truncated";
		write_file(go, "");
		ASSERT_TRUE(drain_build());
		EXPECT_EQ(log(), want + "\n");
		EXPECT_EQ(S.log, -1);
	}
}

// A log that cannot be opened or written: the build goes on without it (the player's
// build matters more than its log), and if the build fails its message adds why the
// log is incomplete. A FIFO where the log should be is not waited on.
TEST_F(Installer, LogThatCannotBeWritten)
{
	const char *STOPPED = "The build stopped (exit 1). Its log has the details.";
	struct {
		const char *name;
		int where;          // 0 logs a file, 1 a FIFO for install.log, 2 a size limit
		const char *body;
		int state;
		std::string msg;    // empty: READY
	} cases[] = {
		{"logs is a file, build fails", 0, "echo hello\nexit 1\n", FAILED,
			std::string(STOPPED) + " The log is incomplete: Not a directory."},
		{"logs is a file, build succeeds", 0, "echo hello\nexit 0\n", READY, ""},
		{"install.log is a FIFO", 1, "echo hello\nexit 1\n", FAILED,
			std::string(STOPPED) + " The log is incomplete: it is not a regular file."},
		{"the file grows past its limit", 2,
			"head -c 200000 /dev/zero | tr '\\000' x\necho\necho hello\nexit 1\n", FAILED,
			std::string(STOPPED) + " The log is incomplete: File too large."},
		{"the limit, after an @error line", 2,
			"echo '@error The disk is full.'\nhead -c 200000 /dev/zero | tr '\\000' x\necho\n"
			"echo hello\nexit 1\n",
			FAILED, "The disk is full. The log is incomplete: File too large."},
		{"the limit, an @error line that fills the message", 2,
			"printf '@error %0600d\\n' 0\nhead -c 200000 /dev/zero | tr '\\000' x\necho\n"
			"echo hello\nexit 1\n",
			FAILED, std::string(511 - 39, '0') + " The log is incomplete: File too large."},
		{"the limit, build succeeds", 2,
			"head -c 200000 /dev/zero | tr '\\000' x\necho\necho hello\n", READY, ""},
	};
	struct rlimit old;
	ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
	void (*xfsz)(int) = signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		remove_tree(home);
		if (c.where == 0)
			write_file(home + "/logs", "a file where the logs directory should be");
		if (c.where == 1) {
			make_dirs(home + "/logs");
			ASSERT_EQ(mkfifo((home + "/logs/install.log").c_str(), 0644), 0);
		}
		fake(c.body);
		S.state = UPDATE;
		struct rlimit low = old;
		low.rlim_cur = 65536;
		if (c.where == 2) {
			ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
		}
		start_build();
		bool ended = drain_build();
		(void)setrlimit(RLIMIT_FSIZE, &old);
		ASSERT_TRUE(ended);
		EXPECT_EQ(S.state, c.state);
		EXPECT_STREQ(S.last_line, "hello");
		if (c.state == FAILED) {
			EXPECT_EQ(std::string(S.msg), c.msg);
		}
		if (c.where == 2) {
			EXPECT_EQ(read_file(home + "/logs/install.log").size(), 65536u);
		}
	}
	(void)signal(SIGXFSZ, xfsz);
}

// A first-time setup starts only with room for it: below ROOM_NEEDED free where the
// data folder is to be, the failure screen (titled as a setup) says what is needed and
// what is free where, rounded down, and nothing is started. A rebuild is not checked.
TEST_F(Installer, RoomBeforeASetup)
{
	fake("exit 0\n");
	make_dirs(dir + "/parent");
	set_dirs(python, share, dir + "/parent/data");
	write_file(dir + "/parent/data/logs/install.log", "the last build's log\n");
	remove_tree(dir + "/parent/data");
	struct statvfs vs;
	ASSERT_EQ(statvfs((dir + "/parent").c_str(), &vs), 0);
	unsigned long long free = (unsigned long long)vs.f_bavail * vs.f_frsize;
	ROOM_NEEDED = free + (1ull << 40);  // more than the disk has, whatever it has

	for (int state : {SETUP, FAILED}) {
		SCOPED_TRACE(state == SETUP ? "Download and Build" : "Try Again without data");
		S.state = state;
		S.needs_disc = state == SETUP;
		EXPECT_EQ(act(state == SETUP ? ACT_BUILD : ACT_RETRY, 0, nullptr), 0);
		EXPECT_EQ(S.state, FAILED);
		EXPECT_EQ(S.needs_disc, 1);
		EXPECT_EQ(S.pid, 0);
		// The free space changes as the machine works: the words around it are fixed.
		std::string msg = S.msg, head = "Setting up needs about 3 GB of free space; " + dir +
			"/parent has ";
		EXPECT_EQ(msg.substr(0, head.size()), head);
		EXPECT_EQ(msg.substr(msg.size() - 9), " GB free.");
		EXPECT_FALSE(exists(dir + "/parent/data")) << "the check made the data folder";
	}
	S.state = UPDATE;
	S.needs_disc = 0;
	start_build();
	EXPECT_EQ(S.state, WORKING) << "a rebuild was checked for room";
	ASSERT_TRUE(drain_build());
	ROOM_NEEDED = 3000000000ull;

	struct {
		unsigned long long bytes, whole, tenths;
	} rows[] = {
		{0, 0, 0}, {99999999, 0, 0}, {100000000, 0, 1}, {1234567890, 1, 2},
		{2999999999, 2, 9}, {3000000000, 3, 0}, {67108864, 0, 0}, {12345678901234, 12345, 6},
	};
	for (const auto &r : rows) {
		SCOPED_TRACE(r.bytes);
		unsigned long long whole, tenths;
		gb_down(r.bytes, &whole, &tenths);
		EXPECT_EQ(whole, r.whole);
		EXPECT_EQ(tenths, r.tenths);
	}
}

// pump_build() returns at once with nothing to read, reads for at most PUMP_LIMIT_MS
// (here 0: a single read, of at most what the pipe holds), and says whether it read.
TEST_F(Installer, PumpReturnsAndBounds)
{
	EXPECT_EQ(pump_build(), 0) << "no pipe open";
	std::string go = dir + "/go";
	fake("while [ ! -e " + go + " ]; do sleep 0.01; done\n"
		"head -c 3000000 /dev/zero | tr '\\000' x\necho\necho flood over\n");
	start_build();
	EXPECT_EQ(pump_build(), 0) << "nothing written yet";
	EXPECT_EQ(S.state, WORKING);
	write_file(go, "");
	struct pollfd p = {S.fd, POLLIN, 0};
	ASSERT_EQ(poll(&p, 1, (int)WATCHDOG_MS), 1);
	PUMP_LIMIT_MS = 0;
	EXPECT_NE(pump_build(), 0);
	EXPECT_GE(S.fd, 0) << "one call drained the whole flood";
	EXPECT_LE(log().size(), 1u << 20);
	PUMP_LIMIT_MS = 40;
	ASSERT_TRUE(drain_build());
	EXPECT_EQ(log().size(), 3000000u + 1 + strlen("flood over\n"));
	EXPECT_STREQ(S.last_line, "flood over");
}

// The outcome table: how the installer ends, whether an error line came and whether
// the user cancelled decide the screen.
struct OutcomeCase {
	const char *name;
	const char *body;     // the fake's sh body; "up" marks the moment to cancel
	int cancel;
	int needs_disc;       // before the start
	int state;
	const char *msg;      // null: the message from before the start stays
	int needs_disc_after;
};

// Installers that say "up" and then wait to be cancelled, ending with a chosen status
// on SIGTERM. (Python: a trap in sh can miss a signal that arrives just before "wait".)
#define WAITING(first, status) \
	"#!/usr/bin/python3\nimport signal, sys, time\n" first \
	"signal.signal(signal.SIGTERM, lambda *a: sys.exit(" status "))\n" \
	"print('up', flush=True)\ntime.sleep(60)\n"
constexpr const char *WAITS = WAITING("", "0");
constexpr const char *WAITS3 = WAITING("", "3");
constexpr const char *ERROR_WAITS = WAITING("print('@error broke', flush=True)\n", "1");

const OutcomeCase OUTCOMES[] = {
	{"exit 0", "echo built\nexit 0", 0, 1, READY, nullptr, 0},
	{"exit 2", "exit 2", 0, 0, FAILED, "The build stopped (exit 2). Its log has the details.", 0},
	{"exit 255", "exit 255", 0, 1, FAILED,
		"The build stopped (exit 255). Its log has the details.", 1},
	{"SIGKILL", "echo dying\nkill -KILL $$", 0, 0, FAILED,
		"The build stopped (signal 9). Its log has the details.", 0},
	{"SIGTERM", "kill -TERM $$", 0, 0, FAILED,
		"The build stopped (signal 15). Its log has the details.", 0},
	{"@error then 1", "echo '@error The disc image did not download.'\nexit 1", 0, 0, FAILED,
		"The disc image did not download.", 0},
	{"@error then a signal", "echo '@error Out of space.'\nkill -KILL $$", 0, 0, FAILED,
		"Out of space.", 0},
	{"@error then 0", "echo '@error only a warning'\nexit 0", 0, 1, READY, "only a warning", 0},
	{"two @error lines then 1", "echo '@error first'\necho '@error second'\nexit 1", 0, 0, FAILED,
		"second", 0},
	{"@error without its space then 1", "echo '@error'\nexit 1", 0, 0, FAILED,
		"The build stopped (exit 1). Its log has the details.", 0},
	{"cancel then 0, first setup", WAITS, 1, 1, SETUP, nullptr, 1},
	{"cancel then 0, update", WAITS, 1, 0, UPDATE, nullptr, 0},
	{"cancel then 3", WAITS3, 1, 1, SETUP, nullptr, 1},
	{"cancel after an @error line", ERROR_WAITS, 1, 0, UPDATE, "broke", 0},
};

TEST_F(Installer, BuildOutcomes)
{
	for (const OutcomeCase &c : OUTCOMES) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		fake(c.body);
		S.state = c.needs_disc ? SETUP : UPDATE;
		S.needs_disc = c.needs_disc;
		snprintf(S.msg, sizeof S.msg, "%s", "from before");
		start_build();
		ASSERT_EQ(S.state, WORKING);
		ASSERT_GT(S.pid, 0);
		if (c.cancel) {
			ASSERT_TRUE(pump_until([] { return !strcmp(S.last_line, "up"); }));
			cancel_build();
			EXPECT_EQ(S.cancelled, 1);
		}
		pid_t pid = S.pid;
		ASSERT_TRUE(drain_build());
		EXPECT_EQ(S.state, c.state);
		EXPECT_STREQ(S.msg, c.msg ? c.msg : "from before");
		EXPECT_EQ(S.needs_disc, c.needs_disc_after);
		EXPECT_EQ(S.pid, 0);
		EXPECT_EQ(S.fd, -1);
		EXPECT_EQ(S.log, -1);
		EXPECT_TRUE(reaped(pid));
	}
}

// An interpreter that cannot run: its child's own error line sets the message, and
// reaches the log.
TEST_F(Installer, BuildInterpreterCannotRun)
{
	std::string missing = dir + "/no/such/python3";
	std::string noexec = dir + "/bin/python-noexec";
	write_file(noexec, "#!/bin/sh\nexit 0\n", 0644);
	struct {
		const char *name;
		std::string python, why;
	} cases[] = {
		{"missing", missing, "No such file or directory"},
		{"not executable", noexec, "Permission denied"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(c.python, share, home);
		S.state = UPDATE;
		start_build();
		ASSERT_TRUE(drain_build());
		std::string msg = "cannot run " + c.python + ": " + c.why;
		EXPECT_EQ(S.state, FAILED);
		EXPECT_EQ(std::string(S.msg), msg);
		EXPECT_EQ(log(), "@error " + msg + "\n");
	}
}

// "Try Again" from the failure screen with no data directory makes the run a
// first-time setup; from other screens, or with the directory there, needs_disc stays.
TEST_F(Installer, RetryWithoutDataDirectory)
{
	struct {
		const char *name;
		int state, home_exists, needs_disc, needs_disc_started, after_cancel;
	} cases[] = {
		{"failed, no data dir", FAILED, 0, 0, 1, SETUP},
		{"failed, data dir there", FAILED, 1, 0, 0, UPDATE},
		{"failed, no data dir, already setup", FAILED, 0, 1, 1, SETUP},
		{"update, no data dir", UPDATE, 0, 0, 0, UPDATE},
	};
	fake(WAITS);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		remove_tree(home);
		if (c.home_exists)
			make_dirs(home);
		S.state = c.state;
		S.needs_disc = c.needs_disc;
		start_build();
		EXPECT_EQ(S.needs_disc, c.needs_disc_started);
		EXPECT_TRUE(exists(home + "/logs/install.log"));
		ASSERT_TRUE(pump_until([] { return !strcmp(S.last_line, "up"); }));
		cancel_build();
		ASSERT_TRUE(drain_build());
		EXPECT_EQ(S.state, c.after_cancel);
	}
}

// While a child is recorded no second one starts: a second activation in one batch,
// or "Try Again" while an errored installer still runs, leaves the first run, its
// pipe and its log alone.
TEST_F(Installer, OneChildAtATime)
{
	std::string go = dir + "/go", runs = dir + "/runs";
	fake("echo started >> " + runs + "\n"
		"echo '@error The patch is damaged.'\n"
		"while [ ! -e " + go + " ]; do sleep 0.01; done\n"
		"echo after\nexit 1\n");
	S.state = UPDATE;
	start_build();
	pid_t pid = S.pid;
	int fd = S.fd;
	int log_fd = S.log;
	start_build();
	EXPECT_EQ(act(ACT_BUILD, 0, nullptr), 0);
	EXPECT_EQ(S.pid, pid);
	EXPECT_EQ(S.fd, fd);
	EXPECT_EQ(S.log, log_fd);

	ASSERT_TRUE(pump_until([] { return S.state == FAILED; }));
	EXPECT_STREQ(S.msg, "The patch is damaged.");
	EXPECT_EQ(S.pid, pid) << "the errored installer still runs";
	EXPECT_EQ(act(ACT_RETRY, 0, nullptr), 0);
	EXPECT_EQ(S.pid, pid);
	EXPECT_EQ(S.state, FAILED);
	EXPECT_EQ(log(), "@error The patch is damaged.\n") << "the refused start truncated the log";

	write_file(go, "");
	ASSERT_TRUE(drain_build());
	EXPECT_EQ(read_file(runs), "started\n");
	EXPECT_EQ(S.state, FAILED);
	EXPECT_STREQ(S.msg, "The patch is damaged.");
	EXPECT_STREQ(S.last_line, "after");

	// Once the run has ended, "Try Again" starts the next one.
	(void)remove(go.c_str());
	write_file(go, "");
	EXPECT_EQ(act(ACT_RETRY, 0, nullptr), 0);
	EXPECT_GT(S.pid, 0);
	EXPECT_NE(S.pid, pid);
	ASSERT_TRUE(drain_build());
	EXPECT_EQ(read_file(runs), "started\nstarted\n");
}

// [SECTION] Cancel ------------------------------------------------------------------

// stat(5) of a process: its process group.
pid_t
pgid_of(pid_t pid)
{
	std::string st = read_file("/proc/" + std::to_string(pid) + "/stat");
	size_t paren = st.rfind(')');
	if (paren == std::string::npos)
		return -1;
	char state;
	int ppid, pgrp;
	if (sscanf(st.c_str() + paren + 1, " %c %d %d", &state, &ppid, &pgrp) != 3)
		return -1;
	return pgrp;
}

// The installer makes its group when BKF_PGROUP is "1" and starts a sleeping
// grandchild in it; SIGTERM to the group ends both.
TEST_F(Installer, CancelReachesTheGroup)
{
	std::string pids = dir + "/pids";
	fake_py("import os, subprocess, sys, time\n"
		"if os.environ.get('BKF_PGROUP') == '1':\n"
		"    os.setpgid(0, 0)\n"
		"g = subprocess.Popen(['sleep', '60'])\n"
		"open('" + pids + ".tmp', 'w').write('%d %d\\n' % (os.getpid(), g.pid))\n"
		"os.rename('" + pids + ".tmp', '" + pids + "')\n"
		"print('up', flush=True)\n"
		"time.sleep(60)\n");
	S.state = UPDATE;
	start_build();
	ASSERT_TRUE(pump_until([] { return !strcmp(S.last_line, "up"); }));
	int installer = 0, grandchild = 0;
	ASSERT_EQ(sscanf(read_file(pids).c_str(), "%d %d", &installer, &grandchild), 2);
	EXPECT_EQ(installer, S.pid);
	EXPECT_EQ(pgid_of(installer), installer);
	EXPECT_EQ(pgid_of(grandchild), installer);
	cancel_build();
	ASSERT_TRUE(drain_build()) << "the grandchild kept the pipe open: SIGTERM missed it";
	EXPECT_EQ(S.state, UPDATE);
	EXPECT_TRUE(reaped(installer));
	EXPECT_TRUE(wait_for([&] { return dead(grandchild); }, 5000));
}

// The installer leads a group of its own from the first moment, whatever it does with
// BKF_PGROUP: a cancel reaches what it started even when it never made a group, and a
// cancel right after the start, before it could make one, reaches it too.
TEST_F(Installer, CancelReachesAnInstallerThatMakesNoGroup)
{
	std::string pids = dir + "/pids";
	struct {
		const char *name;
		int wait_up;  // cancel only once the installer said "up"
	} cases[] = {
		{"installer that never makes a group", 1},
		{"cancel right after the start", 0},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		(void)remove(pids.c_str());
		fake("sleep 60 &\necho $$ $! > " + pids + "\necho up\nwait\n");
		S.state = SETUP;
		S.needs_disc = 1;
		start_build();
		pid_t pid = S.pid;
		EXPECT_EQ(pgid_of(pid), pid);
		if (c.wait_up) {
			ASSERT_TRUE(pump_until([] { return !strcmp(S.last_line, "up"); }));
			int installer = 0, grandchild = 0;
			ASSERT_EQ(sscanf(read_file(pids).c_str(), "%d %d", &installer, &grandchild), 2);
			EXPECT_EQ(pgid_of(grandchild), pid);
		}
		cancel_build();
		ASSERT_TRUE(drain_build(10000)) << "SIGTERM did not reach the installer";
		EXPECT_EQ(S.state, SETUP);
		EXPECT_TRUE(reaped(pid));
	}
}

// With the media library up, SIGTERM has the launcher's quit handler, which the child
// has too until execv: a cancel in that moment must still end the installer.
TEST_F(Installer, CancelBeforeExecWithQuitHandler)
{
	ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError();
	fake("exec sleep 30\n");
	for (int i = 0; i < 20; i++) {
		SCOPED_TRACE(i);
		S.state = UPDATE;
		start_build();
		cancel_build();
		ASSERT_TRUE(drain_build(5000)) << "the cancel was swallowed before execv";
		EXPECT_EQ(S.state, UPDATE);
	}
	SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
	SDL_Quit();
}

// With no child recorded, cancelling sends nothing (a kill of group 0 would end the
// launcher itself) and leaves the flag as it is.
TEST_F(Installer, CancelWithoutChild)
{
	for (int flag = 0; flag <= 1; flag++) {
		SCOPED_TRACE(flag);
		reset_state();
		S.state = UPDATE;
		S.cancelled = flag;
		cancel_build();
		EXPECT_EQ(act(ACT_CANCEL, 0, nullptr), 0);
		EXPECT_EQ(S.cancelled, flag);
		EXPECT_EQ(S.state, UPDATE);
	}
}

// [SECTION] Ends that take their time ------------------------------------------------

// Installers whose end is not the end of their output. The build goes on while any
// process holds the pipe and until the installer has exited; a cancel always ends it:
// SIGCONT wakes a stopped installer, SIGKILL ends its group after the grace, and a
// pipe still held after that (by a process that left the group) is let go. The bounds
// only say "it did not hang": the (lowered) limits and a second or more.
TEST_F(Installer, EndsThatTakeTheirTime)
{
	std::string holder = dir + "/holder";
	struct {
		const char *name;
		std::string body;   // sh body; says "up" when it is time to look and to cancel
		int cancel;
		Uint32 grace;       // SHUTDOWN_LIMIT_MS
		int state;
		int holder_lives;   // the process in $holder is still alive at the end
	} cases[] = {
		{"closes its output, runs on, exits 0",
			"echo up\nexec >/dev/null 2>&1\nsleep 0.5\nexit 0\n", 0, 5000, READY, 0},
		{"closes its output, runs on, exits 4",
			"echo up\nexec >/dev/null 2>&1\nsleep 0.3\nexit 4\n", 0, 5000, FAILED, 0},
		{"closes its output, runs on, cancelled",
			"echo up\nexec >/dev/null 2>&1\nexec sleep 60\n", 1, 20000, UPDATE, 0},
		{"stopped, cancelled", "echo up\nkill -STOP $$\nexec sleep 60\n", 1, 20000, UPDATE, 0},
		{"deaf to SIGTERM, cancelled",
			"trap '' TERM\necho up\nwhile :; do sleep 0.05; done\n", 1, 300, UPDATE, 0},
		{"exits, a holder in its group deaf to SIGTERM",
			"sh -c \"trap '' TERM; exec sleep 60\" &\necho $! > " + holder + "\necho up\nexit 0\n",
			1, 300, UPDATE, 0},
		{"exits, a holder in its group, not cancelled, ends",
			"sh -c 'sleep 0.5; echo late' &\necho $! > " + holder + "\necho up\nexit 0\n", 0,
			5000, READY, 0},
		{"exits, a holder that left its group",
			"setsid sleep 60 &\necho $! > " + holder + "\necho up\nexit 0\n", 1, 300, UPDATE, 1},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		(void)remove(holder.c_str());
		fake(c.body);
		S.state = UPDATE;
		start_build();
		pid_t pid = S.pid;
		ASSERT_TRUE(pump_until([] { return !strcmp(S.last_line, "up"); }));
		// Whatever happens to the output, the installer is recorded until it has ended.
		Uint32 t0 = test_ms();
		while (test_ms() - t0 < 100) {
			turn_wait(S.fd);
			(void)pump_build();
			ASSERT_TRUE(S.pid > 0 || c.state == S.state) << "ended before its time";
		}
		if (S.pid > 0) {
			EXPECT_EQ(S.state, WORKING);
		}
		SHUTDOWN_LIMIT_MS = c.grace;
		KILL_WAIT_MS = 200;
		if (c.cancel)
			cancel_build();
		ASSERT_TRUE(drain_build(c.cancel ? c.grace + KILL_WAIT_MS + 3000 : WATCHDOG_MS));
		EXPECT_EQ(S.state, c.state);
		EXPECT_TRUE(reaped(pid));
		if (exists(holder)) {
			pid_t h = read_pid(holder);
			if (c.holder_lives)
				EXPECT_FALSE(dead(h));
			else
				EXPECT_TRUE(wait_for([&] { return dead(h); }, 5000));
			(void)kill(h, SIGKILL);
		}
	}
}

// The installer's wait must not be taken for its status when it fails: with SIGCHLD
// ignored the kernel reaps every child at once, and a failed build is no success.
TEST_F(Installer, FailedWaitIsNoSuccess)
{
	struct sigaction ign = {}, old;
	ign.sa_handler = SIG_IGN;
	ASSERT_EQ(sigaction(SIGCHLD, &ign, &old), 0);
	fake("echo broken\nexit 1\n");
	S.state = UPDATE;
	start_build();
	bool ended = drain_build();
	(void)sigaction(SIGCHLD, &old, nullptr);
	ASSERT_TRUE(ended);
	EXPECT_EQ(S.state, FAILED);
	EXPECT_STREQ(S.msg,
		"The build ended, but its result could not be read. Its log has the details.");

	ASSERT_EQ(sigaction(SIGCHLD, &ign, &old), 0);
	fake("printf '{\"ready\": true}'\n");
	ended = run_status();
	(void)sigaction(SIGCHLD, &old, nullptr);
	ASSERT_TRUE(ended);
	EXPECT_EQ(S.state, FAILED) << "an answer whose exit status is unknown counts";
}

// A read of the pipe that fails for another reason than "nothing yet" ends the build as
// a failure that says so, and stops the installer.
TEST_F(Installer, PipeThatCannotBeRead)
{
	fake("echo up\nwhile :; do sleep 0.05; done\n");
	S.state = UPDATE;
	start_build();
	pid_t pid = S.pid;
	ASSERT_TRUE(pump_until([] { return !strcmp(S.last_line, "up"); }));
	int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
	ASSERT_GE(d, 0);
	ASSERT_EQ(dup2(d, S.fd), S.fd);  // the read end becomes a directory: EISDIR
	(void)close(d);
	ASSERT_TRUE(drain_build(10000));
	EXPECT_EQ(S.state, FAILED);
	EXPECT_STREQ(S.msg,
		"The build's output could not be read (Is a directory). The build was stopped.");
	EXPECT_TRUE(reaped(pid));
}

// A build that cannot start leaves install.log as the last build left it; an
// environment too large for the child's fixed vector is refused, not cut.
TEST_F(Installer, BuildThatCannotStartKeepsTheLog)
{
	write_file(home + "/logs/install.log", "the last build's log\n");
	fake("exit 0\n");
	S.state = UPDATE;

	struct rlimit rl, low;
	ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
	int top = 0;
	for (int fd = 0; fd < 4096; fd++)
		if (fcntl(fd, F_GETFD) >= 0)
			top = fd;
	low = rl;
	low.rlim_cur = (rlim_t)top + 1;
	ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
	std::vector<int> fill;  // every free number below the limit taken: no room for a pipe
	for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;)
		fill.push_back(fd);
	start_build();
	for (int fd : fill)
		(void)close(fd);
	(void)setrlimit(RLIMIT_NOFILE, &rl);
	EXPECT_EQ(S.state, FAILED);
	EXPECT_STREQ(S.msg, "The build could not start.");
	EXPECT_EQ(S.pid, 0);
	EXPECT_EQ(S.log, -1);
	EXPECT_EQ(log(), "the last build's log\n");

	S.state = UPDATE;
	for (int i = 0; i < 4100; i++)
		ASSERT_EQ(setenv(("BKF_FILLER_" + std::to_string(i)).c_str(), "x", 1), 0);
	start_build();
	for (int i = 0; i < 4100; i++)
		(void)unsetenv(("BKF_FILLER_" + std::to_string(i)).c_str());
	EXPECT_EQ(S.state, FAILED);
	EXPECT_EQ(S.pid, 0);
	EXPECT_EQ(log(), "the last build's log\n");
}

// The status query runs beside the loop: a turn never waits for the installer, the
// answer is judged once its output has ended and it has exited, and a quit while it
// runs ends it, its group and a child deaf to SIGTERM within CHECK_GRACE_MS.
TEST_F(Installer, StatusBesideTheLoop)
{
	std::string g = dir + "/g", go = dir + "/go";
	fake("while [ ! -e " + go + " ]; do sleep 0.01; done\nprintf '{\"ready\": true}'\n");
	start_status();
	ASSERT_GT(S.check_pid, 0);
	for (int i = 0; i < 5; i++)
		EXPECT_EQ(pump_status(), 0);
	EXPECT_EQ(S.state, CHECKING) << "a turn waited for the answer";
	write_file(go, "");
	Uint32 t0 = test_ms();
	while (S.check_pid > 0 && test_ms() - t0 < WATCHDOG_MS) {
		turn_wait(S.check_fd);
		(void)pump_status();
	}
	EXPECT_EQ(S.state, READY);

	launcher_reset();
	set_dirs(python, share, home);
	fake("trap '' TERM\nsleep 60 &\necho $! > " + g + "\nwhile :; do sleep 0.05; done\n");
	start_status();
	pid_t pid = S.check_pid;
	ASSERT_TRUE(wait_for([&] { return read_pid(g) > 0; }));
	end_status();
	EXPECT_EQ(S.check_pid, 0);
	EXPECT_EQ(S.check_fd, -1);
	EXPECT_TRUE(reaped(pid));
	EXPECT_TRUE(wait_for([&] { return dead(read_pid(g)); }, 5000)) << "its group lives on";
	EXPECT_EQ(S.state, CHECKING);
}

// BKF_LIMITS: "status=S,grace=S" in seconds, either part alone; anything else changes
// nothing.
TEST_F(Installer, Limits)
{
	struct {
		const char *spec;
		int ok;
		Uint32 status, grace;
	} cases[] = {
		{"status=2,grace=0.5", 1, 2000, 500},
		{"grace=0.25", 1, 60000, 250},
		{"status=0.3", 1, 300, 5000},
		{"grace=1,status=90", 1, 90000, 1000},
		{"status=0", 0, 60000, 5000},
		{"status=-1", 0, 60000, 5000},
		{"status=", 0, 60000, 5000},
		{"status=2,", 0, 60000, 5000},
		{"status=2;grace=1", 0, 60000, 5000},
		{"limit=3", 0, 60000, 5000},
		{"status=1e9", 0, 60000, 5000},
		{"status=nan", 0, 60000, 5000},
		{"", 0, 60000, 5000},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.spec);
		STATUS_LIMIT_MS = 60000;
		SHUTDOWN_LIMIT_MS = 5000;
		EXPECT_EQ(read_limits(c.spec), c.ok);
		EXPECT_EQ(STATUS_LIMIT_MS, c.status);
		EXPECT_EQ(SHUTDOWN_LIMIT_MS, c.grace);
	}
}

// [SECTION] The claim on the data folder ---------------------------------------------

// Every spelling of one data folder names one lock, made or not: a "./", a "..", a
// symlink on the way, a relative path, parents that do not exist yet.
TEST_F(Installer, ClaimPathsOfOneFolder)
{
	make_dirs(dir + "/real/sub");
	ASSERT_EQ(symlink((dir + "/real").c_str(), (dir + "/link").c_str()), 0);
	char cwd[PATH_MAX];
	ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
	ASSERT_EQ(chdir(dir.c_str()), 0);
	struct {
		const char *name;
		std::string a, b;
	} cases[] = {
		{"as it is and with ./", dir + "/real/data", dir + "/real/./data"},
		{"through ..", dir + "/real/data", dir + "/real/sub/../data"},
		{"through a symlink", dir + "/real/data", dir + "/link/data"},
		{"relative", dir + "/real/data", "real/data"},
		{"trailing and doubled slashes", dir + "/real/data", dir + "//real/data/"},
		{"parents missing", dir + "/real/new/deeper/data", dir + "/link/new/./deeper/data"},
		{"folder that exists", dir + "/real/sub", dir + "/link/sub"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		for (int which = 0; which < 2; which++) {
			char a[PATH_MAX], b[PATH_MAX];
			ASSERT_EQ(claim_path(c.a.c_str(), which, a, sizeof a), 1);
			ASSERT_EQ(claim_path(c.b.c_str(), which, b, sizeof b), 1);
			EXPECT_STREQ(a, b);
		}
	}
	ASSERT_EQ(chdir(cwd), 0);
	char p[PATH_MAX];
	ASSERT_EQ(claim_path((dir + "/real/data").c_str(), 0, p, sizeof p), 1);
	EXPECT_EQ(std::string(p), dir + "/real/.data.lock");
	ASSERT_EQ(claim_path((dir + "/real/data").c_str(), 1, p, sizeof p), 1);
	char other[PATH_MAX];
	ASSERT_EQ(claim_path((dir + "/real/datb").c_str(), 1, other, sizeof other), 1);
	EXPECT_STRNE(p, other);
}

// The claim is held for the whole run and refused while another holds it; it makes
// the data folder's parent for its lock, never the folder itself. "Try Again" on the
// refusal tries the claim again and, once it is had, starts as a launcher that has
// just started: the status query.
TEST_F(Installer, ClaimHeldAndTriedAgain)
{
	std::string data = dir + "/new/data";
	setenv("BKF_HOME", data.c_str(), 1);
	setenv("BKF_PYTHON", python.c_str(), 1);
	setenv("BKF_SHARE", share.c_str(), 1);
	fake("printf '{\"ready\": true}'\n");
	char lock[PATH_MAX];
	ASSERT_EQ(claim_path(data.c_str(), 0, lock, sizeof lock), 1);
	make_dirs(dir + "/new");
	int other = open(lock, O_RDWR | O_CREAT, 0644);  // another launcher's claim
	ASSERT_GE(other, 0);
	ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);

	begin();
	EXPECT_EQ(S.state, FAILED);
	EXPECT_EQ(S.blocked, 1);
	EXPECT_STREQ(S.msg, "Brackenfold is already open in another window. Use that one, or close "
		"it and press Try Again.");
	EXPECT_EQ(S.check_pid, 0) << "a launcher without the claim asked the installer";
	EXPECT_EQ(act(ACT_RETRY, 0, nullptr), 0);
	EXPECT_EQ(S.state, FAILED) << "the claim is still held";
	EXPECT_EQ(S.pid, 0);

	(void)close(other);  // the other launcher has ended
	EXPECT_EQ(act(ACT_RETRY, 0, nullptr), 0);
	EXPECT_EQ(S.state, CHECKING);
	EXPECT_EQ(S.blocked, 0);
	EXPECT_GT(S.check_pid, 0);
	while (S.check_pid > 0) {
		turn_wait(S.check_fd);
		(void)pump_status();
	}
	EXPECT_EQ(S.state, READY);
	EXPECT_FALSE(exists(data)) << "the claim made the data folder";
	other = open(lock, O_RDWR);
	ASSERT_GE(other, 0);
	EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0) << "the claim is not held";
	(void)close(other);
	for (const char *v : {"BKF_HOME", "BKF_PYTHON", "BKF_SHARE"})
		(void)unsetenv(v);
}

// [SECTION] Shutdown ----------------------------------------------------------------

// A child still recorded at the end is waited for without draining its pipe, and one
// that outlives SHUTDOWN_LIMIT_MS (here lowered) is killed with its group and reaped.
TEST_F(Installer, ShutdownIsBounded)
{
	std::string pidfile = dir + "/pid", gpid = dir + "/gpid";
	struct {
		const char *name;
		std::string body;  // sh body, or a Python script when it starts with "import"
		Uint32 limit;
	} cases[] = {
		{"ignores SIGTERM and keeps writing",
			"trap '' TERM\necho $$ > " + pidfile + "\necho up\nwhile :; do echo spam; done\n", 300},
		{"blocked on a full pipe",
			"echo $$ > " + pidfile + "\necho up\nhead -c 1000000 /dev/zero\nexec sleep 60\n", 300},
		{"after an @error line, still running",
			"echo $$ > " + pidfile + "\necho '@error broken'\necho up\nexec sleep 60\n", 300},
		{"ends once its pipe is closed",
			"echo $$ > " + pidfile + "\necho up\nwhile echo more; do :; done\nexit 0\n", 5000},
		{"a grandchild in its group",
			"import os, signal, subprocess, time\n"
			"signal.signal(signal.SIGTERM, signal.SIG_IGN)\n"
			"os.setpgid(0, 0)\n"
			"g = subprocess.Popen(['sleep', '60'], stdout=subprocess.DEVNULL)\n"
			"open('" + gpid + "', 'w').write(str(g.pid))\n"
			"open('" + pidfile + "', 'w').write(str(os.getpid()))\n"
			"print('up', flush=True)\n"
			"time.sleep(60)\n", 300},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		launcher_reset();
		set_dirs(python, share, home);
		(void)remove(gpid.c_str());
		(void)remove(pidfile.c_str());
		if (c.body.rfind("import", 0) == 0)
			fake_py(c.body);
		else
			fake(c.body);
		S.state = UPDATE;
		start_build();
		ASSERT_TRUE(wait_for([&] { return read_pid(pidfile) > 0; }));
		(void)pump_build();
		pid_t pid = read_pid(pidfile);
		ASSERT_EQ(pid, S.pid);
		SHUTDOWN_LIMIT_MS = c.limit;
		end_build();
		EXPECT_EQ(S.pid, 0);
		EXPECT_EQ(S.fd, -1);
		EXPECT_EQ(S.log, -1);
		EXPECT_TRUE(reaped(pid));
		if (exists(gpid)) {
			pid_t g = read_pid(gpid);
			EXPECT_TRUE(wait_for([&] { return dead(g); }, 5000)) << "grandchild survived";
		}
	}
}

}  // namespace
