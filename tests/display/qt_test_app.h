#pragma once
// One QGuiApplication for every test that draws with Qt, on the offscreen platform.
#include <QGuiApplication>
#include <cstdlib>

namespace kvx::test {

inline void ensureGuiApp() {
    if (QGuiApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "display_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

}  // namespace kvx::test
