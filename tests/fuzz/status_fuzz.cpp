// status_fuzz.cpp: libFuzzer harness for the status answer. The input is what the
// installer wrote, taken as the status query takes it: its first 4095 bytes in a zeroed
// 4096-byte buffer, so the text ends at the first NUL. status_answer() must choose one
// of the four screens, and what it chose must agree with the marks in the text from
// the last "{", for either start value of needs_disc.

#include "launcher.h"

#include <cstdlib>
#include <cstring>

static void
fail(const char *what)
{
	fprintf(stderr, "status_fuzz: broken: %s\n", what);
	abort();
}

#define CHECK(c) ((c) ? (void)0 : fail(#c))

static const char FAILED_TEXT[] = "The installer could not run (";

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	char buf[4096];
	memset(buf, 0, sizeof buf);
	memcpy(buf, data, size < sizeof buf - 1 ? size : sizeof buf - 1);

	// An interpreter path longer than the message may quote: the cut is exercised too.
	memset(g_python, 'p', sizeof g_python - 1);
	g_python[sizeof g_python - 1] = '\0';

	const char *o = strrchr(buf, '{');
	int ready = o && strstr(o, "\"ready\": true");
	int disc = o && strstr(o, "\"needs_disc\": true");
	for (int32_t before = 0; before < 2; before++) {
		reset_state();
		memset(S.msg, 0x55, sizeof S.msg);  // a stale message must not survive a failure
		S.needs_disc = before;
		status_answer(buf);
		switch (S.state) {
		case READY:
			CHECK(ready);
			CHECK(S.needs_disc == before);
			break;
		case SETUP:
			CHECK(o && !ready && disc);
			CHECK(S.needs_disc == 1);
			break;
		case UPDATE:
			CHECK(o && !ready && !disc);
			CHECK(S.needs_disc == 0);
			break;
		case FAILED:
			CHECK(!o);
			CHECK(S.needs_disc == before);
			CHECK(memchr(S.msg, 0, sizeof S.msg));
			CHECK(!strncmp(S.msg, FAILED_TEXT, sizeof FAILED_TEXT - 1));
			CHECK(strlen(S.msg) == sizeof FAILED_TEXT - 1 + 300 +
				strlen("). Reinstalling the app may help."));
			break;
		default:
			fail("a state other than READY, SETUP, UPDATE or FAILED");
		}
	}
	return 0;
}
