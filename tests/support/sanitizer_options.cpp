// SPDX-License-Identifier: GPL-3.0-or-later
// Settings of the sanitizer runtimes, built into every program of a sanitizer build.
// The runtimes call these before anything else runs; settings in the environment
// (ASAN_OPTIONS and the like) still come on top of them.

extern "C" {

// Leaks are errors; a static initialiser that reads another file's not yet initialised
// static is one; so is the use of a local after its function has returned.
const char* __asan_default_options() {
  return "detect_leaks=1:check_initialization_order=1:strict_init_order=1:"
         "detect_stack_use_after_return=1";
}

// Undefined behaviour stops the program, with the stack that led there.
const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

// A data race stops the program, with both stacks of a lock-order inversion. The
// suppressions name only state that the game library owns.
const char* __tsan_default_options() {
  return "halt_on_error=1:second_deadlock_stack=1:suppressions=" NANASPLAT_TSAN_SUPPRESSIONS;
}

}  // extern "C"

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>

namespace {
// The library's ALSA sound driver is a module that the library loads at start-up and
// unloads at exit. Each time it opens a device it keeps two small blocks (its debug
// output handle and its poll descriptors) in its own statics and never frees them;
// once the module is unloaded LeakSanitizer finds them unreferenced and reports leaks
// that are not the game's. Loaded here first and never unloaded, the module keeps its
// statics, and they keep those blocks reachable. (A program without the library, or
// a system without the module, simply does not load it.)
__attribute__((constructor)) void KeepTheSoundDriverLoaded() {
  dlopen(NANASPLAT_SOUND_DRIVER, RTLD_NOW | RTLD_NODELETE);
}
}  // namespace
#endif
