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
// synchronisation is out of its sight: cpp-httplib (the suites' loopback HTTP servers), Qt
// WebEngine, and a task Qt's own thread pool hands to its worker. The
// stacks lie inside those libraries; nothing of ours is suppressed.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libcpp-httplib.so\n"
           "race:libQt6WebEngineCore.so\n"
           "race:QThreadPoolPrivate::enqueueTask\n";
}
