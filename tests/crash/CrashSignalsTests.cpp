// Real crashes in child processes: each run of crash_child dies by one means, and the files it
// leaves show what the crash capture did before the process ended.
#include "ChildProcess.h"
#include "core/CrashSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

namespace rivlo::test {
namespace {

struct CrashKind {
    const char* mode;
    int signal;               // the signal the process must die by
    const char* description;  // the exception text, or nullptr for a signal
};

std::string printKind(const testing::TestParamInfo<CrashKind>& info) {
    std::string name = info.param.mode;
    for (char& c : name) {
        if (c == '-') c = '_';
    }
    return name;
}

const CrashKind kKinds[] = {
    {"segv", SIGSEGV, nullptr},
    {"abort", SIGABRT, nullptr},
    {"fpe", SIGFPE, nullptr},
    {"bus", SIGBUS, nullptr},
    {"ill", SIGILL, nullptr},
    {"recursion", SIGSEGV, nullptr},
    {"pipe", SIGPIPE, nullptr},
    {"exception", SIGABRT, "disk on fire"},
    {"exception-int", SIGABRT, "int"},
    {"segv-thread", SIGSEGV, nullptr},
    {"exception-thread", SIGABRT, "bad state on worker"},
};

// Sanitizers keep their own fault handlers; the child must die by the signal itself.
const std::vector<std::string> kChildEnvironment = {
    "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
    "handle_abort=0:detect_leaks=0:use_sigaltstack=0",
    "UBSAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0",
    "TSAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
    "report_signal_unsafe=0:report_thread_leaks=0"};

struct Outcome {
    ChildExit exit;
    std::vector<std::string> work;
    std::vector<std::string> host;
    std::vector<std::string> log;
    std::vector<std::string> trapped;
    std::vector<std::string> closed;
    bool survived = false;
};

Outcome crash(const std::string& mode, std::vector<std::string> options = {}) {
    TempDir dir;
    std::vector<std::string> arguments = {mode, dir.path()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    Outcome outcome;
    outcome.exit = runChild(RIVLO_CRASH_CHILD, arguments, kChildEnvironment);
    outcome.work = readLines(dir.file("work"));
    outcome.host = readLines(dir.file("host"));
    outcome.log = readLines(dir.file("log"));
    outcome.trapped = readLines(dir.file("trapped"));
    outcome.closed = readLines(dir.file("closed"));
    outcome.survived = readFile(dir.file("status")) == "survived\n";
    return outcome;
}

std::string expectedLogLine(const CrashKind& kind) {
    if (kind.description != nullptr) {
        return std::string("Rivlo: Crash handler closing session. Caught exception: ") +
               kind.description + ". ";
    }
    return "Rivlo: Crash handler closing session. Signal # " + std::to_string(kind.signal) +
           " was raised.";
}

std::string expectedWorkLine(const CrashKind& kind) {
    if (kind.description != nullptr) return std::string("0 ") + kind.description;
    return std::to_string(kind.signal) + " ";
}

// What the host's own handlers must have seen: each exactly once.
std::vector<std::string> expectedHostLines(const CrashKind& kind) {
    if (kind.description != nullptr) return {"exception", "terminate", "signal 6"};
    return {"signal " + std::to_string(kind.signal)};
}

class CrashKindTest : public testing::TestWithParam<CrashKind> {};

TEST_P(CrashKindTest, WithDefaultDispositionsDiesBySignalAfterOneWorkRun) {
    const CrashKind& kind = GetParam();
    Outcome outcome = crash(kind.mode);
    ASSERT_TRUE(outcome.exit.started);
    ASSERT_FALSE(outcome.exit.hung);
    EXPECT_TRUE(outcome.exit.signaled) << "exit code " << outcome.exit.exitCode;
    EXPECT_EQ(outcome.exit.signal, kind.signal);
    EXPECT_EQ(outcome.work, std::vector<std::string>{expectedWorkLine(kind)});
    EXPECT_EQ(outcome.log, std::vector<std::string>{expectedLogLine(kind)});
    EXPECT_TRUE(outcome.host.empty());
    EXPECT_FALSE(outcome.survived);
}

// The host installed handlers before the library: every run saves its record, calls the host's
// handler exactly once, and ends by the same signal. Twenty runs of each kind. A broken pipe is
// the exception: the host's handler means it survives them.
TEST_P(CrashKindTest, HostHandlersAreCalledOnceInEveryOfTwentyRuns) {
    const CrashKind& kind = GetParam();
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Outcome outcome = crash(kind.mode, {"host", "settle=0"});
        ASSERT_TRUE(outcome.exit.started);
        ASSERT_FALSE(outcome.exit.hung);
        if (kind.signal == SIGPIPE) {
            // A host that handles broken pipes keeps running: no crash, its handler as always.
            ASSERT_EQ(outcome.exit.exitCode, 0);
            ASSERT_TRUE(outcome.survived);
            ASSERT_TRUE(outcome.work.empty());
            ASSERT_TRUE(outcome.log.empty());
            ASSERT_EQ(outcome.host, std::vector<std::string>{"signal 13"});
            continue;
        }
        ASSERT_TRUE(outcome.exit.signaled) << "exit code " << outcome.exit.exitCode;
        ASSERT_EQ(outcome.exit.signal, kind.signal);
        ASSERT_EQ(outcome.work, std::vector<std::string>{expectedWorkLine(kind)});
        ASSERT_EQ(outcome.host, expectedHostLines(kind));
        ASSERT_EQ(outcome.log, std::vector<std::string>{expectedLogLine(kind)});
    }
}

INSTANTIATE_TEST_SUITE_P(Crashes, CrashKindTest, testing::ValuesIn(kKinds), printKind);

TEST(CrashSignals, IgnoredBrokenPipeIsNoCrash) {
    Outcome outcome = crash("pipe", {"ignore-pipe"});
    ASSERT_FALSE(outcome.exit.hung);
    EXPECT_FALSE(outcome.exit.signaled);
    EXPECT_EQ(outcome.exit.exitCode, 0);
    EXPECT_TRUE(outcome.survived);
    EXPECT_TRUE(outcome.work.empty());
    EXPECT_TRUE(outcome.log.empty());
    EXPECT_EQ(outcome.trapped, std::vector<std::string>{"6 4 11 8 7 "});
}

TEST(CrashSignals, ProgramThatDoesNotCrashRunsNoWork) {
    Outcome outcome = crash("none", {"host"});
    EXPECT_EQ(outcome.exit.exitCode, 0);
    EXPECT_TRUE(outcome.survived);
    EXPECT_TRUE(outcome.work.empty());
    EXPECT_TRUE(outcome.host.empty());
    // The host handles broken pipes itself, so SIGPIPE stays its own; a second install
    // changes nothing.
    EXPECT_EQ(outcome.trapped, std::vector<std::string>{"6 4 11 8 7 "});

    Outcome plain = crash("none");
    EXPECT_EQ(plain.exit.exitCode, 0);
    EXPECT_EQ(plain.trapped, std::vector<std::string>{"6 4 11 8 7 13 "});
}

// A work that never finishes (it waits for a lock the crashed thread holds) cannot hang the
// process: the crashing thread gives up after its bound and goes on down the chain.
TEST(CrashSignals, BlockedWorkDoesNotHangTheCrash) {
    Outcome outcome = crash("segv", {"host", "block", "wait=0.5"});
    ASSERT_FALSE(outcome.exit.hung);
    EXPECT_TRUE(outcome.exit.signaled);
    EXPECT_EQ(outcome.exit.signal, SIGSEGV);
    EXPECT_EQ(outcome.host, std::vector<std::string>{"signal 11"});
    EXPECT_TRUE(outcome.work.empty());
    EXPECT_EQ(outcome.log.size(), 1u);
}

TEST(CrashSignals, BlockedWorkAfterUncaughtExceptionDoesNotHang) {
    Outcome outcome = crash("exception", {"host", "block", "wait=0.5"});
    ASSERT_FALSE(outcome.exit.hung);
    EXPECT_EQ(outcome.exit.signal, SIGABRT);
    EXPECT_EQ(outcome.host, (std::vector<std::string>{"exception", "terminate", "signal 6"}));
    EXPECT_TRUE(outcome.work.empty());
}

// Two threads faulting together: one work run, one host call per delivery that reached the
// host, and the process dies by the fault.
TEST(CrashSignals, SimultaneousFaultsRunTheWorkOnce) {
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Outcome outcome = crash("twice", {"settle=0"});
        ASSERT_FALSE(outcome.exit.hung);
        ASSERT_EQ(outcome.exit.signal, SIGSEGV);
        ASSERT_EQ(outcome.work, std::vector<std::string>{"11 "});
        ASSERT_EQ(outcome.log.size(), 1u);
    }
}

// A signal the host sends itself stays with the host's handler, which here lets the program
// go on: the library saved its record once and does not end a process the host keeps alive.
TEST(CrashSignals, RaisedSignalWithHostHandlerContinuesAsTheHostDecides) {
    Outcome outcome = crash("fpe-raise", {"host", "settle=0"});
    ASSERT_FALSE(outcome.exit.hung);
    EXPECT_EQ(outcome.exit.exitCode, 0);
    EXPECT_TRUE(outcome.survived);
    EXPECT_EQ(outcome.host, std::vector<std::string>{"signal 8"});
    EXPECT_EQ(outcome.work, std::vector<std::string>{"8 "});
    // The event is over: a close takes the handlers out (joining the crash thread), and a start
    // after it installs them again.
    EXPECT_EQ(outcome.closed, (std::vector<std::string>{"handlers out", "installed again"}));
}

TEST(CrashSignals, RaisedSignalWithDefaultDispositionEndsTheProcess) {
    Outcome outcome = crash("fpe-raise", {"settle=0"});
    ASSERT_FALSE(outcome.exit.hung);
    EXPECT_TRUE(outcome.exit.signaled);
    EXPECT_EQ(outcome.exit.signal, SIGFPE);
    EXPECT_FALSE(outcome.survived);
    EXPECT_EQ(outcome.work, std::vector<std::string>{"8 "});
}

TEST(CrashSignals, TrappedSignalsInInstallationOrder) {
    const std::array<int, 6> expected = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGPIPE};
    EXPECT_EQ(CrashSignals::trappedSignals(), expected);
}

}  // namespace
}  // namespace rivlo::test
