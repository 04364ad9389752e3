// test_protocol.cpp: line assembly (feed) and the installer's line protocol (interpret),
// called directly. Each row feeds bytes to a state whose fields hold known values, and
// names what must change.

#include "fakes.h"

#include <cmath>

namespace {

constexpr double NAN_ = 1e99;  // expected progress: a NaN

struct Row {
	const char *name;
	std::string in;
	int step, steps;
	std::string label;
	double progress;
	std::string last;
	int state;
	std::string msg;
};

// The fields before each row.
void
before()
{
	reset_state();
	S.state = WORKING;
	S.step = 9;
	S.steps = 9;
	snprintf(S.step_label, sizeof S.step_label, "%s", "old label");
	S.progress = 0.25;
	snprintf(S.last_line, sizeof S.last_line, "%s", "old line");
	snprintf(S.msg, sizeof S.msg, "%s", "old msg");
}

Row
row(const char *name, std::string in)
{
	return {name, std::move(in), 9, 9, "old label", 0.25, "old line", WORKING, "old msg"};
}

Row
step(Row r, int a, int b, std::string label)
{
	r.step = a;
	r.steps = b;
	r.label = std::move(label);
	r.progress = -1.0;
	return r;
}

Row
prog(Row r, double p)
{
	r.progress = p;
	return r;
}

Row
last(Row r, std::string l)
{
	r.last = std::move(l);
	return r;
}

Row
error(Row r, std::string m)
{
	r.state = FAILED;
	r.msg = std::move(m);
	return r;
}

std::vector<Row>
rows()
{
	std::string big(700, 'L');
	std::string line10k = std::string("@error ") + std::string(8191 - 7, 'a') + "X" + "tail" +
		std::string(1808 - 4, 'b') + "\n";
	return {
		step(row("step with label", "@step 2 7 Compiling the game\n"), 2, 7, "Compiling the game"),
		step(row("step without label", "@step 2 7\n"), 2, 7, ""),
		step(row("step, blanks before the label", "@step 3 7 \t  label\n"), 3, 7, "label"),
		step(row("step, label with conversions", "@step 1 2 %s%n%x\n"), 1, 2, "%s%n%x"),
		step(row("step, negative numbers", "@step -1 -2 odd\n"), -1, -2, "odd"),
		step(row("step, a number past int", "@step 1 99999999999 big\n"), 1, 2147483647, "big"),
		step(row("step, long label cut at 159", "@step 1 2 " + big + "\n"), 1, 2,
			std::string(159, 'L')),
		row("step without numbers", "@step \n"),
		row("step with one number", "@step 4\n"),
		row("step with words", "@step x y label\n"),
		last(row("step without its space", "@step\n"), "@step"),
		last(row("step word run on", "@step2 7 x\n"), "@step2 7 x"),
		prog(row("progress", "@progress 0.5\n"), 0.5),
		prog(row("progress above 1", "@progress 1.5\n"), 1.0),
		prog(row("progress below 0", "@progress -0.5\n"), -1.0),
		prog(row("progress -0", "@progress -0\n"), 0.0),
		prog(row("progress nan", "@progress nan\n"), NAN_),
		prog(row("progress inf", "@progress inf\n"), 1.0),
		prog(row("progress -inf", "@progress -inf\n"), -1.0),
		prog(row("progress 1e308", "@progress 1e308\n"), 1.0),
		prog(row("progress 1e999", "@progress 1e999\n"), 1.0),
		prog(row("progress no number", "@progress soon\n"), 0.0),
		prog(row("progress empty", "@progress \n"), 0.0),
		prog(row("progress, text after", "@progress 0.75 of it\n"), 0.75),
		last(row("progress without its space", "@progress\n"), "@progress"),
		error(row("error", "@error The disc image did not download.\n"),
			"The disc image did not download."),
		error(row("error, empty text", "@error \n"), ""),
		error(row("error with conversions", "@error %s%n%x%%\n"), "%s%n%x%%"),
		error(row("error cut at 511", "@error " + std::string(700, 'E') + "\n"),
			std::string(511, 'E')),
		last(row("error without its space", "@error\n"), "@error"),
		row("done", "@done\n"),
		last(row("done and a space", "@done \n"), "@done "),
		last(row("done run on", "@donex\n"), "@donex"),
		last(prog(row("counter", "[37/89] Building C object\n"), 37.0 / 89), "[37/89] Building C object"),
		last(prog(row("counter past its total", "[5/3] x\n"), 5.0 / 3), "[5/3] x"),
		last(row("counter total 0", "[1/0] x\n"), "[1/0] x"),
		last(prog(row("counter 4294967295/1", "[4294967295/1]\n"), 4294967295.0), "[4294967295/1]"),
		last(row("counter without numbers", "[x/3] y\n"), "[x/3] y"),
		last(row("counter alone", "[\n"), "["),
		last(row("plain", "hello\n"), "hello"),
		last(row("plain with conversions", "%s%n%x\n"), "%s%n%x"),
		last(row("plain cut at 255", std::string(300, 'p') + "\n"), std::string(255, 'p')),
		last(row("plain, no UTF-8", "\xff\xfe\xc3\n"), "\xff\xfe\xc3"),
		last(row("plain, a NUL inside", std::string("ab\0cd\n", 6)), "ab"),
		row("empty line", "\n"),
		row("only carriage returns", "\r\r\n"),
		step(row("CRLF", "@step 1 2 Fetch\r\n"), 1, 2, "Fetch"),
		last(row("carriage return inside", "ab\rcd\r\n"), "abcd"),
		row("no newline: not interpreted", "@error not yet"),
		last(prog(step(error(row("lines after @error still count",
			"@error boom\n@step 3 7 after\n@progress 0.5\nplain after\n"), "boom"), 3, 7, "after"),
			0.5), "plain after"),
		step(row("several lines, the last wins", "@step 1 7 a\n@step 2 7 b\n"), 2, 7, "b"),
		last(error(row("10000-byte line: 8191 bytes, one lost, the rest", line10k),
			std::string(511, 'a')), ("tail" + std::string(1808 - 4, 'b')).substr(0, 255)),
	};
}

TEST(Protocol, Rows)
{
	for (const Row &r : rows()) {
		SCOPED_TRACE(r.name);
		before();
		feed(r.in.data(), r.in.size());
		EXPECT_EQ(S.step, r.step);
		EXPECT_EQ(S.steps, r.steps);
		EXPECT_EQ(std::string(S.step_label), r.label);
		if (r.progress == NAN_)
			EXPECT_TRUE(std::isnan(S.progress)) << S.progress;
		else
			EXPECT_EQ(S.progress, r.progress);
		EXPECT_EQ(std::string(S.last_line), r.last);
		EXPECT_EQ(S.state, r.state);
		EXPECT_EQ(std::string(S.msg), r.msg);
	}
}

// The same bytes fed in every split give the same result: a line under assembly
// carries over from one read to the next.
TEST(Protocol, SplitAnywhere)
{
	std::string in = "@step 2 7 Compiling\r\n[3/4] cc a.c\n@progress 0.5\nlast one\n";
	for (size_t cut = 0; cut <= in.size(); cut++) {
		SCOPED_TRACE(cut);
		before();
		feed(in.data(), cut);
		feed(in.data() + cut, in.size() - cut);
		EXPECT_EQ(S.step, 2);
		EXPECT_STREQ(S.step_label, "Compiling");
		EXPECT_EQ(S.progress, 0.5);
		EXPECT_STREQ(S.last_line, "last one");
		EXPECT_EQ(S.line_len, 0u);
	}
}

// A megabyte without a newline never grows the line past 8191 bytes; each full line
// is ended and interpreted, the byte after it lost.
TEST(Protocol, EndlessLine)
{
	before();
	std::string chunk(4096, 'z');
	for (int i = 0; i < 256; i++) {
		feed(chunk.data(), chunk.size());
		ASSERT_LE(S.line_len, LINE_MAX_LEN);
	}
	EXPECT_EQ(std::string(S.last_line), std::string(255, 'z'));
	// 1048576 bytes: 128 full lines of 8191 plus their lost bytes, then the rest.
	EXPECT_EQ(S.line_len, 1048576u - 128u * 8192u);
}

// interpret() alone, as the line reader hands it a finished line.
TEST(Protocol, InterpretDirect)
{
	before();
	interpret("@step 5 6 Linking");
	EXPECT_EQ(S.step, 5);
	EXPECT_STREQ(S.step_label, "Linking");
	interpret("");
	EXPECT_STREQ(S.last_line, "old line");
	interpret("[1/2] ld");
	EXPECT_EQ(S.progress, 0.5);
	EXPECT_STREQ(S.last_line, "[1/2] ld");
}

}  // namespace
