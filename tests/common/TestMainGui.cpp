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
    // Every test program with windows has an X server that no other test uses
    // meanwhile, so no other test's windows (stacked over its windows, taking the
    // focus, exposing them again) can disturb what it looks at. Under
    // scripts/test.sh ctest hands each test one of the servers started there
    // ("id:<display number>,slots:1"); a program run otherwise starts its own,
    // and a program a test started keeps its parent's. The processes it starts
    // inherit it.
    const char* chosen = std::getenv(kTestDisplay);
    const char* display = std::getenv("DISPLAY");
    if (!chosen || !display || std::strcmp(chosen, display) != 0) {
        std::string number;
        const char* allotted = std::getenv("CTEST_RESOURCE_GROUP_0_DISPLAYS");
        if (allotted && std::strncmp(allotted, "id:", 3) == 0)
            number = std::string(allotted + 3, std::strcspn(allotted + 3, ","));
        if (number.empty())
            number = startServer();
        const std::string name = ":" + number;
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
