// language.cpp: the launcher in the player's language. choose_language() reads the
// locale variables the way GNU gettext ranks them and loads the first catalogue that
// exists (a GNU .mo file) into a static buffer; tr() looks a text up in it. No locale
// needs to be generated on the machine: nothing here goes through setlocale.
// Start reading at choose_language().

#include "launcher.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// [SECTION] Globals -----------------------------------------------------------------

char LANG_CODE[32];  // the catalogue's language ("de", "pt_BR"); empty: English

static char MO[1 << 18];    // the catalogue file; the launcher's own is some 10 KiB
static size_t MO_SIZE;      // 0: no catalogue, English
static Uint32 MO_N;         // its number of texts
static Uint32 MO_ORIG, MO_TRANS;  // where its tables of originals and translations are
static int MO_SWAPPED;      // written on a machine of the other byte order
static unsigned char USABLE[4096];  // per text: its translation may stand in for it

// [SECTION] The catalogue -----------------------------------------------------------

static Uint32
word(size_t at)
{
	Uint32 v;
	memcpy(&v, MO + at, 4);
	return MO_SWAPPED ? SDL_Swap32(v) : v;
}

// Text i of the table at t (originals or translations), or null when the entry does
// not lie within the file or is not NUL-terminated there.
static const char *
entry(Uint32 t, Uint32 i, Uint32 *len)
{
	size_t at = (size_t)t + (size_t)i * 8;
	if (at + 8 > MO_SIZE)
		return nullptr;
	Uint32 n = word(at), off = word(at + 4);
	if ((size_t)off + n >= MO_SIZE || MO[off + n] != '\0')
		return nullptr;
	if (len)
		*len = n;
	return MO + off;
}

// The conversions of a printf format, one letter each, in order: 'd' for an int, 'u'
// for an unsigned, 'z' for a size, 'L' for a long long, 'U' for an unsigned long long,
// 's' for a text, '*' for a width or precision taken from the arguments, '?' for what
// the launcher's own formats never hold. "%%" is none.
static int
conversions(const char *f, char *out, size_t size)
{
	size_t n = 0;
	for (const char *p = f; *p; p++) {
		if (*p != '%')
			continue;
		if (*++p == '%')
			continue;
		char kind = 0;
		while (*p && strchr("-+ #0'", *p))
			p++;
		for (int part = 0; part < 2; part++) {  // width, then precision
			if (part == 1 && *p == '.')
				p++;
			else if (part == 1)
				break;
			if (*p == '*') {
				if (n + 1 >= size)
					return 0;
				out[n++] = '*';
				p++;
			}
			while (*p >= '0' && *p <= '9')
				p++;
		}
		if (*p == '$')
			kind = '?';  // a numbered argument: the order is no longer the original's
		int longs = 0, size_t_ = 0;
		for (; *p == 'l' || *p == 'z' || *p == 'h' || *p == 'j' || *p == 't'; p++) {
			longs += *p == 'l';
			size_t_ |= *p == 'z';
			if (*p == 'h' || *p == 'j' || *p == 't')
				kind = '?';
		}
		if (!*p)
			return 0;
		if (!kind) {
			switch (*p) {
			case 'd':
			case 'i':
				kind = size_t_ ? '?' : longs == 2 ? 'L' : longs == 0 ? 'd' : '?';
				break;
			case 'u':
				kind = size_t_ ? 'z' : longs == 2 ? 'U' : longs == 0 ? 'u' : '?';
				break;
			case 's':
				kind = longs || size_t_ ? '?' : 's';
				break;
			default:
				kind = '?';
				break;
			}
		}
		if (n + 1 >= size)
			return 0;
		out[n++] = kind;
	}
	out[n] = '\0';
	return 1;
}

// Whether a translation takes the same arguments as its original, in the same order:
// otherwise it is outside text that must not become a format, and English stands.
int
same_conversions(const char *original, const char *translation)
{
	char a[64], b[64];
	return conversions(original, a, sizeof a) && conversions(translation, b, sizeof b) &&
		!strcmp(a, b) && !strchr(a, '?');
}

// Loads the catalogue at path when it is a well-formed GNU .mo file in UTF-8 whose
// originals are sorted; marks which of its translations may be used. Returns 1 when it
// was taken.
static int
load_mo(const char *path)
{
	MO_SIZE = 0;
	int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return 0;
	struct stat st;
	size_t got = 0;
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 28 &&
		(size_t)st.st_size < sizeof MO) {
		for (ssize_t n; got < (size_t)st.st_size; got += (size_t)n)
			if ((n = read(fd, MO + got, (size_t)st.st_size - got)) <= 0)
				break;
	}
	(void)close(fd);
	if (got < 28 || got != (size_t)st.st_size)
		return 0;
	MO[got] = '\0';

	Uint32 magic;
	memcpy(&magic, MO, 4);
	MO_SWAPPED = magic == 0xde120495u;
	if (magic != 0x950412deu && !MO_SWAPPED)
		return 0;
	MO_SIZE = got;
	MO_N = word(8);
	MO_ORIG = word(12);
	MO_TRANS = word(16);
	const char *head = MO_N ? entry(MO_TRANS, 0, nullptr) : nullptr;
	const char *first = MO_N ? entry(MO_ORIG, 0, nullptr) : nullptr;
	if (MO_N == 0 || MO_N > sizeof USABLE || !head || !first || first[0] ||
		!strstr(head, "charset=UTF-8")) {
		MO_SIZE = 0;
		return 0;
	}
	const char *prev = "";
	for (Uint32 i = 0; i < MO_N; i++) {
		const char *o = entry(MO_ORIG, i, nullptr), *t = entry(MO_TRANS, i, nullptr);
		if (!o || !t || (i > 0 && strcmp(prev, o) >= 0)) {
			MO_SIZE = 0;  // broken, or not sorted for the search
			return 0;
		}
		USABLE[i] = i > 0 && t[0] && same_conversions(o, t);
		if (i > 0 && t[0] && !USABLE[i])
			fprintf(stderr, "launcher: %s: the translation of \"%s\" takes other "
				"arguments; English is shown\n", path, o);
		prev = o;
	}
	return 1;
}

const char *
tr(const char *text)
{
	if (!MO_SIZE)
		return text;
	Uint32 lo = 1, hi = MO_N;  // entry 0 is the catalogue's header
	while (lo < hi) {
		Uint32 mid = lo + (hi - lo) / 2;
		int c = strcmp(text, entry(MO_ORIG, mid, nullptr));
		if (c == 0)
			return USABLE[mid] ? entry(MO_TRANS, mid, nullptr) : text;
		if (c < 0)
			hi = mid;
		else
			lo = mid + 1;
	}
	return text;
}

// [SECTION] The player's language ---------------------------------------------------

// Where the catalogues are: BKF_LOCALEDIR; else beside the launcher's bin/ as
// installed (../share/locale), else the build tree's own (locale/ beside it).
static int
locale_dir(int which, char *out, size_t size)
{
	const char *set = env_or("BKF_LOCALEDIR", nullptr);
	if (set) {
		int n = snprintf(out, size, "%s", set);
		return which == 0 && n > 0 && (size_t)n < size;
	}
	char exe[PATH_MAX];
	ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
	if (n <= 0)
		return 0;
	exe[n] = '\0';
	char *slash = strrchr(exe, '/');
	if (!slash)
		return 0;
	*slash = '\0';
	int k = snprintf(out, size, which == 0 ? "%s/../share/locale" : "%s/locale", exe);
	return which < 2 && k > 0 && (size_t)k < size;
}

// Tries the catalogue of one language name ("pt_BR"), then of its language alone
// ("pt"). Returns 1 when one was loaded.
static int
try_language(const char *name, size_t len)
{
	char lang[sizeof LANG_CODE];
	if (len == 0 || len >= sizeof lang)
		return 0;
	for (size_t i = 0; i < len; i++)  // a language's name, never a path of its own
		if (!((name[i] >= 'a' && name[i] <= 'z') || (name[i] >= 'A' && name[i] <= 'Z') ||
			(name[i] >= '0' && name[i] <= '9') || name[i] == '_' || name[i] == '-'))
			return 0;
	memcpy(lang, name, len);
	lang[len] = '\0';
	for (int cut = 0; cut < 2; cut++) {
		if (cut) {
			char *region = strchr(lang, '_');
			if (!region)
				return 0;
			*region = '\0';
		}
		for (int which = 0;; which++) {
			char dir[PATH_MAX], path[PATH_MAX + 96];
			if (!locale_dir(which, dir, sizeof dir))
				break;
			int n = snprintf(path, sizeof path, "%s/%s/LC_MESSAGES/brackenfold-launcher.mo",
				dir, lang);
			if (n > 0 && (size_t)n < sizeof path && load_mo(path)) {
				snprintf(LANG_CODE, sizeof LANG_CODE, "%s", lang);
				return 1;
			}
		}
	}
	return 0;
}

// One entry of a language list ("de_DE.UTF-8@euro"): its language and region only.
static size_t
language_of(const char *p, size_t n)
{
	size_t k = 0;
	while (k < n && p[k] != '.' && p[k] != '@')
		k++;
	return k;
}

// Chooses the language with GNU gettext's ranks: the message locale is the first of
// LC_ALL, LC_MESSAGES and LANG that is set and not empty; none, or exactly C or POSIX,
// is English whatever else is set. Otherwise the LANGUAGE list, when set, comes first,
// then the message locale; a region falls back to its language, and an English entry
// ends the search, English needing no catalogue. Returns 1 when a catalogue is loaded.
int
choose_language()
{
	MO_SIZE = 0;
	LANG_CODE[0] = '\0';
	const char *locale = env_or("LC_ALL", nullptr);
	if (!locale)
		locale = env_or("LC_MESSAGES", nullptr);
	if (!locale)
		locale = env_or("LANG", nullptr);
	if (!locale || !strcmp(locale, "C") || !strcmp(locale, "POSIX"))
		return 0;
	const char *lists[2] = {env_or("LANGUAGE", ""), locale};
	for (const char *list : lists) {
		for (const char *p = list; *p;) {
			size_t n = strcspn(p, ":");
			size_t k = language_of(p, n);
			if ((k == 2 && !strncmp(p, "en", 2)) || (k > 2 && !strncmp(p, "en_", 3)))
				return 0;
			if (try_language(p, k))
				return 1;
			p += n + (p[n] == ':');
		}
	}
	return 0;
}
