// Process-long state of libraries the suites load, which the leak checker would report at exit;
// nothing of ours is suppressed:
// - fontconfig (loaded by Cairo for text) keeps its font caches for the life of the process;
// - Qt WebEngine keeps engine objects of its own past the application's teardown, and with them
//   the touch devices the Qt suites create once for the process (QTest::createTouchDevice).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libQt6WebEngineCore.so\n"
           "leak:QTest::createTouchDevice\n";
}

// ThreadSanitizer sees races inside libraries that are not built with it when their own
// synchronisation is out of its sight: cpp-httplib (the suites' loopback HTTP servers and the
// collector), Qt WebEngine, and Qt Core's and Qt Gui's own objects handed between the threads of
// Qt's thread pools (Qt's mutexes wait on futexes directly, out of the sanitizer's sight). Only
// accesses made by those libraries' own code carry their frames (their functions are not
// instrumented, so our code called from them shows only our frames); nothing of ours is
// suppressed.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libcpp-httplib.so\n"
           "race:libQt6WebEngineCore.so\n"
           "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n";
}
