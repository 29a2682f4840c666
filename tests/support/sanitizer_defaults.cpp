// Options the sanitizer runtimes read at start-up, built into every test
// binary so that they hold however the binary is started (CTest, by hand,
// under a debugger). Without a sanitizer nobody calls these.

extern "C" {

// Allocations that the system's font, display and message-bus libraries keep
// for the life of the process are not leaks of ours.
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libglib-2.0\n"
           "leak:libdbus-1\n";
}

// Undefined behaviour stops the test with a stack trace.
const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

// The sound server's client and ALSA libraries are not built for the thread
// checker: their own locks are invisible to it, so what they do on their
// threads looks like races. Ours are still checked.
const char* __tsan_default_suppressions() {
    return "called_from_lib:libpulsecommon-16.1.so\n"
           "called_from_lib:libpulse.so.0\n"
           "called_from_lib:libasound.so.2\n"
           "race:libpulsecommon-16.1.so\n"
           "race:libpulse.so.0\n"
           "race:libasound.so.2\n";
}

}
