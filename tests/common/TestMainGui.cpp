#include <QApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kTestDisplay = "LUMENWEAVE_TEST_DISPLAY";

// Starts Xvfb, which ends with this program even when a time-out kills it; its
// display number once it accepts clients.
std::string startServer() {
    FILE* server = popen("exec setpriv --pdeathsig TERM Xvfb -displayfd 1 -screen 0 1920x1080x24 "
                         "-nolisten tcp -noreset 2>/dev/null",
                         "re");
    char number[16] = {};
    if (!server || !std::fgets(number, sizeof number, server) || !std::strchr(number, '\n')) {
        std::fputs("No X server for the test program: Xvfb did not start\n", stderr);
        std::exit(1);
    }
    return std::string(number, std::strcspn(number, "\n"));
}

} // namespace

int main(int argc, char** argv) {
    // Every test program with windows has an X server of its own, so no other
    // test's windows (stacked over its windows, taking the focus, exposing them
    // again) can disturb what it looks at. A program a test started keeps its
    // parent's; the processes it starts inherit it.
    const char* own = std::getenv(kTestDisplay);
    const char* display = std::getenv("DISPLAY");
    if (!own || !display || std::strcmp(own, display) != 0) {
        const std::string name = ":" + startServer();
        setenv("DISPLAY", name.c_str(), 1);
        setenv(kTestDisplay, name.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
    }
    // Worker-thread GL contexts share textures with the widgets' contexts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
