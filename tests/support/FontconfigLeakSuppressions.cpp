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
