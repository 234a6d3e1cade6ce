// The X server tests' program: starts an Xvfb of its own and runs every test on it. Without
// Xvfb it exits with 77 (skipped), unless KVX_REQUIRE_X11 is set, as the project's test script
// does: there a missing X server is an error.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "x_server_harness.h"

// The platform plugin for X talks to the session bus through libdbus, which keeps a buffer to
// the end of the process: not ours to free, so the leak checker of sanitizer builds skips it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::string xvfb = kvx::test::findProgram("Xvfb");
    const bool required = std::getenv("KVX_REQUIRE_X11") != nullptr;
    if (xvfb.empty() || kvx::test::findProgram("xdotool").empty()) {
        std::fprintf(required ? stderr : stdout, "Xvfb or xdotool is not installed: %s\n",
                     required ? "failed" : "skipped");
        return required ? 1 : 77;
    }
    kvx::test::XServerProcess server;
    if (!server.start(xvfb)) {
        std::fprintf(stderr, "cannot start %s\n", xvfb.c_str());
        return 1;
    }
    ::setenv("DISPLAY", server.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);  // whatever the test environment says
    int code;
    {
        QApplication app(argc, argv);
        code = RUN_ALL_TESTS();
    }
    return code;
}
