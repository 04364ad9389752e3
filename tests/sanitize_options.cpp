// sanitize_options.cpp: the sanitizer runtimes' defaults, linked into every binary of a
// BKF_SANITIZE build, so that a test that runs a binary with an environment of its own
// gets the same checks. ASAN_OPTIONS, LSAN_OPTIONS and UBSAN_OPTIONS still override them.

#include <dlfcn.h>

extern "C" {

const char *__asan_default_options();
const char *__lsan_default_options();
const char *__ubsan_default_options();

const char *
__asan_default_options()
{
	return "strict_string_checks=1:detect_stack_use_after_return=1:"
		"check_initialization_order=1:strict_init_order=1";
}

// SDL, the X client libraries and the video drivers keep some of their allocations
// until the process ends; tests/lsan.supp names them. Nothing of the launcher's own.
const char *
__lsan_default_options()
{
	return "suppressions=" BKF_LSAN_SUPP ":print_suppressions=0";
}

// SDL unloads the video drivers and the GL stack it opened (SDL_Quit, SDL_GL_UnloadLibrary)
// before the leak check at exit runs; their allocations would then be reported with no
// library name to suppress them by. Here no library is ever unloaded.
int
dlclose(void *handle)
{
	(void)handle;
	return 0;
}

const char *
__ubsan_default_options()
{
	return "print_stacktrace=1:halt_on_error=1";
}

}
