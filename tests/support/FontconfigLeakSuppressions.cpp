// Fontconfig (loaded by Cairo for text) keeps its font caches for the life of the process;
// the leak checker would report them at exit. Nothing of ours is suppressed.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
