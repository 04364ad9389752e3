// stream_fuzz.cpp: libFuzzer harness for the installer's output stream. The input's
// first bytes say how to cut the rest into reads; each read goes to feed() (line
// assembly and the protocol) as pump_build() hands it over, and the record's
// invariants are checked after every read. The same bytes in one single read must
// leave the same record: a line under assembly carries over from read to read.
//
// Input: byte 0 = h; k = (h & 7) + 1 read sizes follow, each (b + 1) * scale bytes with
// scale = 1, 8, 64 or 512 by (h >> 3) & 3; the rest is the output, cut into reads of
// those sizes in turn (the last read takes what is left).

#include "launcher.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

static void
fail(const char *what)
{
	fprintf(stderr, "stream_fuzz: broken: %s\n", what);
	abort();
}

#define CHECK(c) ((c) ? (void)0 : fail(#c))

// The text field holds its NUL within its size, and no line end: carriage returns are
// dropped and a newline only ends a line.
static int
one_line(const char *s, size_t size)
{
	const char *nul = (const char *)memchr(s, 0, size);
	return nul && !memchr(s, '\r', (size_t)(nul - s)) && !memchr(s, '\n', (size_t)(nul - s));
}

static void
check_record()
{
	CHECK(S.line_len <= LINE_MAX_LEN);
	CHECK(one_line(S.msg, sizeof S.msg));
	CHECK(one_line(S.step_label, sizeof S.step_label));
	CHECK(one_line(S.last_line, sizeof S.last_line));
	CHECK(S.state == WORKING || S.state == FAILED);
	CHECK(S.state == FAILED || S.msg[0] == '\0');  // only "@error " sets a message
	// -1.0 indeterminate; NaN from "@progress nan"; [0, 1] from "@progress"; i / n of
	// two 32-bit counts, n != 0, from a counter line: finite, 0 or more.
	double p = S.progress;
	CHECK(p == -1.0 || std::isnan(p) || (p >= 0.0 && p <= (double)UINT32_MAX));
	CHECK(S.log == -1 && S.fd == -1 && S.pid == 0);  // the protocol opens nothing
}

// A build start, as far as the record goes; no log, no pipe, no child.
static void
start()
{
	reset_state();
	S.state = WORKING;
	snprintf(S.step_label, sizeof S.step_label, "%s", "Starting");
}

// What the protocol wrote, field by field (the progress bit for bit: a NaN is a NaN).
static State whole;

static int
same_as_whole()
{
	return S.state == whole.state && !memcmp(S.msg, whole.msg, sizeof S.msg) &&
		!memcmp(S.step_label, whole.step_label, sizeof S.step_label) &&
		S.step == whole.step && S.steps == whole.steps &&
		!memcmp(&S.progress, &whole.progress, sizeof S.progress) &&
		!memcmp(S.last_line, whole.last_line, sizeof S.last_line) &&
		S.line_len == whole.line_len && !memcmp(S.line, whole.line, S.line_len);
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static const size_t scales[4] = {1, 8, 64, 512};
	if (size < 1)
		return 0;
	size_t k = (size_t)(data[0] & 7) + 1, scale = scales[(data[0] >> 3) & 3];
	if (size < 1 + k)
		return 0;
	const uint8_t *cuts = data + 1;
	const char *out = (const char *)data + 1 + k;
	size_t n = size - 1 - k;

	start();
	feed(out, n);
	check_record();
	whole = S;

	start();
	for (size_t at = 0, i = 0; at < n; i = (i + 1) % k) {
		size_t len = ((size_t)cuts[i] + 1) * scale;
		if (len > n - at)
			len = n - at;
		feed(out + at, len);
		at += len;
		check_record();
	}
	CHECK(same_as_whole());
	return 0;
}
