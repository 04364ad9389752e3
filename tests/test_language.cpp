// test_language.cpp: the launcher in the player's language. Catalogues are made here
// with msgfmt from small .po files in a locale folder of the test's own (BKF_LOCALEDIR):
// which language the locale variables choose, as GNU gettext ranks them; that English
// needs no catalogue; that a translation whose conversions differ from its original's
// is not used; and that a catalogue that is broken is no catalogue at all.

#include "fakes.h"

#include <string>
#include <vector>

namespace {

const char *const VARS[] = {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE", "BKF_LOCALEDIR"};

class Language : public ::testing::Test {
protected:
	std::string dir;
	std::vector<std::string> saved;

	void SetUp() override
	{
		for (const char *v : VARS) {
			const char *value = getenv(v);
			saved.push_back(value ? std::string("=") + value : std::string());
			(void)unsetenv(v);
		}
		dir = temp_dir("language");
		ASSERT_EQ(setenv("BKF_LOCALEDIR", dir.c_str(), 1), 0);
	}

	void TearDown() override
	{
		for (size_t i = 0; i < std::size(VARS); i++) {
			if (saved[i].empty())
				(void)unsetenv(VARS[i]);
			else
				(void)setenv(VARS[i], saved[i].c_str() + 1, 1);
		}
		(void)choose_language();  // back to English for the tests after this one
		remove_tree(dir);
	}

	// A catalogue for lang that says "Quit" as word, made with msgfmt; extra entries
	// follow as written.
	void catalogue(const std::string &lang, const std::string &word,
		const std::string &extra = "")
	{
		std::string po = dir + "/" + lang + ".po";
		write_file(po, "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
			"msgid \"Quit\"\nmsgstr \"" + word + "\"\n\n" + extra);
		std::string out = dir + "/" + lang + "/LC_MESSAGES";
		make_dirs(out);
		std::string cmd = "msgfmt -o '" + out + "/brackenfold-launcher.mo' '" + po + "'";
		ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
	}
};

void
set(const char *name, const char *value)
{
	if (value)
		(void)setenv(name, value, 1);
	else
		(void)unsetenv(name);
}

// Which catalogue the variables choose, with de, fr, pt and pt_BR catalogues there.
TEST_F(Language, TheVariablesChooseAsGettextRanksThem)
{
	catalogue("de", "Beenden");
	catalogue("fr", "Quitter");
	catalogue("pt", "Sair (pt)");
	catalogue("pt_BR", "Sair");
	const char *U = nullptr;
	struct {
		const char *lc_all, *lc_messages, *lang, *language, *quit;
	} rows[] = {
		{U, U, U, U, "Quit"},                              // nothing set: English
		{U, U, "de_DE.UTF-8", U, "Beenden"},
		{U, U, "de_AT", U, "Beenden"},                     // a region falls back
		{U, U, "de_DE@euro", U, "Beenden"},
		{U, U, "pt_BR.UTF-8", U, "Sair"},                  // the region's own comes first
		{U, U, "pt_PT.UTF-8", U, "Sair (pt)"},
		{U, U, "fr_FR.UTF-8", "de", "Beenden"},            // LANGUAGE before the locale
		{U, U, "fr_FR.UTF-8", "sv:de:fr", "Beenden"},      // an unknown entry is passed over
		{U, U, "fr_FR.UTF-8", "sv", "Quitter"},            // then the locale itself
		{U, U, "fr_FR.UTF-8", "en:de", "Quit"},            // English ends the search
		{U, U, "fr_FR.UTF-8", "en_GB:de", "Quit"},
		{U, U, "en_US.UTF-8", U, "Quit"},
		{U, U, "C", "de", "Quit"},                         // C is English whatever is set
		{U, U, "POSIX", "de", "Quit"},
		{U, U, "C.UTF-8", "de", "Beenden"},                // C.UTF-8 is not C
		{U, U, "C.UTF-8", U, "Quit"},
		{"fr_FR", "de_DE", "de_DE", U, "Quitter"},         // LC_ALL first
		{U, "fr_FR", "de_DE", U, "Quitter"},               // then LC_MESSAGES
		{"", "", "de_DE", U, "Beenden"},                   // empty counts as unset
		{"C", U, "de_DE", "de", "Quit"},
		{U, U, "sv_SE.UTF-8", U, "Quit"},                  // no catalogue: English
		{U, U, "de_DE", "", "Beenden"},
		{U, U, "xx_YY", "::de", "Beenden"},
		{U, U, "../../etc", U, "Quit"},                    // never a path of its own
		{U, U, "de/../de", U, "Quit"},
	};
	for (const auto &r : rows) {
		SCOPED_TRACE(::testing::Message() << "LC_ALL " << (r.lc_all ? r.lc_all : "unset")
			<< ", LC_MESSAGES " << (r.lc_messages ? r.lc_messages : "unset") << ", LANG "
			<< (r.lang ? r.lang : "unset") << ", LANGUAGE " << (r.language ? r.language : "unset"));
		set("LC_ALL", r.lc_all);
		set("LC_MESSAGES", r.lc_messages);
		set("LANG", r.lang);
		set("LANGUAGE", r.language);
		(void)choose_language();
		EXPECT_STREQ(tr("Quit"), r.quit);
		EXPECT_STREQ(tr("A text no catalogue has"), "A text no catalogue has");
	}
}

// A translation that takes other arguments than its original (count, order, kind) is
// outside text: it is not used, and says so once, where the catalogue is loaded.
TEST_F(Language, TranslationsWithOtherConversionsAreNotUsed)
{
	struct {
		const char *original, *translation;
		bool used;
	} rows[] = {
		{"Step %d of %d: %s", "Schritt %d von %d: %s", true},
		{"Step %d of %d: %s", "Schritt %d von %d", false},           // one fewer
		{"Step %d of %d: %s", "Schritt %d von %d: %s %s", false},    // one more
		{"Step %d of %d: %s", "%s: Schritt %d von %d", false},       // another order
		{"Step %d of %d: %s", "Schritt %s von %d: %s", false},       // another kind
		{"Step %d of %d: %s", "Schritt %2$d von %1$d: %3$s", false}, // numbered
		{"The logs are in %s", "Die Protokolle liegen in %s", true},
		{"The logs are in %s", "Die Protokolle liegen in %n", false},
		{"The logs are in %s", "100%% in %s", true},
		{"The logs are in %s", "100% in %s", false},                 // "% i" is a conversion
		{"is %zu bytes", "hat %zu Bytes", true},
		{"is %zu bytes", "hat %d Bytes", false},
		{"has %llu.%llu GB", "hat %llu,%llu GB", true},
		{"has %llu.%llu GB", "hat %lu,%llu GB", false},
		{"could not run (%.300s).", "konnte nicht laufen (%.300s).", true},
		{"could not run (%.300s).", "konnte nicht laufen (%.*s).", false},
		{"Quit", "Beenden", true},
		{"Quit", "Beenden %s", false},
	};
	for (const auto &r : rows) {
		SCOPED_TRACE(::testing::Message() << r.original << " -> " << r.translation);
		EXPECT_EQ(same_conversions(r.original, r.translation), r.used);
	}

	catalogue("de", "Beenden", "msgid \"Step %d of %d: %s\"\nmsgstr \"%s: Schritt %d von %d\"\n\n"
		"msgid \"The logs are in %s\"\nmsgstr \"Die Protokolle liegen in %s\"\n");
	set("LANG", "de_DE.UTF-8");
	::testing::internal::CaptureStderr();
	EXPECT_EQ(choose_language(), 1);
	std::string err = ::testing::internal::GetCapturedStderr();
	EXPECT_NE(err.find("the translation of \"Step %d of %d: %s\" takes other arguments"),
		std::string::npos) << err;
	EXPECT_STREQ(tr("Step %d of %d: %s"), "Step %d of %d: %s");
	EXPECT_STREQ(tr("The logs are in %s"), "Die Protokolle liegen in %s");
	EXPECT_STREQ(tr("Quit"), "Beenden");
	EXPECT_STREQ(LANG_CODE, "de");
}

// A catalogue that is not a well-formed one is no catalogue: English, and no crash.
TEST_F(Language, BrokenCataloguesAreEnglish)
{
	catalogue("de", "Beenden");
	std::string mo = dir + "/de/LC_MESSAGES/brackenfold-launcher.mo";
	std::string good = read_file(mo);
	ASSERT_GT(good.size(), 40u);
	std::string latin1 = good;
	size_t at = latin1.find("charset=UTF-8");
	ASSERT_NE(at, std::string::npos);
	latin1.replace(at, 13, "charset=LATIN");
	std::string far = good;  // the first translation points past the end of the file
	unsigned off = (unsigned)far.size() + 100;
	memcpy(&far[16], &off, 4);
	struct {
		const char *name;
		std::string bytes;
	} rows[] = {
		{"empty", ""},
		{"cut short", good.substr(0, 20)},
		{"cut in its strings", good.substr(0, good.size() - 5)},
		{"not a catalogue", std::string(200, 'x')},
		{"another charset", latin1},
		{"a table outside the file", far},
	};
	set("LANG", "de_DE.UTF-8");
	for (const auto &r : rows) {
		SCOPED_TRACE(r.name);
		write_file(mo, r.bytes);
		EXPECT_EQ(choose_language(), 0);
		EXPECT_STREQ(tr("Quit"), "Quit");
		EXPECT_STREQ(LANG_CODE, "");
	}
	(void)remove(mo.c_str());
	ASSERT_EQ(mkfifo(mo.c_str(), 0644), 0);  // not waited on
	EXPECT_EQ(choose_language(), 0);
	(void)remove(mo.c_str());
	write_file(mo, good);
	EXPECT_EQ(choose_language(), 1);
	EXPECT_STREQ(tr("Quit"), "Beenden");
}

}  // namespace
