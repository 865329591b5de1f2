#include <QApplication>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kTestDisplay = "LUMENWEAVE_TEST_DISPLAY";

[[noreturn]] void fail(const char* why, pid_t server) {
    std::fprintf(stderr, "No X server for the test program: %s\n", why);
    if (server > 0)
        kill(server, SIGTERM);
    std::exit(1);
}

// Starts Xvfb; its display number once it accepts clients.
std::string startServer(pid_t& server) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        fail("no pipe", 0);
    const pid_t parent = getpid();
    server = fork();
    if (server < 0)
        fail("no fork", 0);
    if (server == 0) {
        // The server ends with the program, even one killed by a time-out.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        fcntl(pipeFds[1], F_SETFD, 0);
        const std::string fd = std::to_string(pipeFds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24",
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string number;
    pollfd ready{pipeFds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 60000) == 1 && read(pipeFds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(pipeFds[0]);
    if (number.empty() || c != '\n')
        fail("Xvfb did not start", server);
    return number;
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
    pid_t server = 0;
    if (!chosen || !display || std::strcmp(chosen, display) != 0) {
        std::string number;
        const char* allotted = std::getenv("CTEST_RESOURCE_GROUP_0_DISPLAYS");
        if (allotted && std::strncmp(allotted, "id:", 3) == 0)
            number = std::string(allotted + 3, std::strcspn(allotted + 3, ","));
        if (number.empty())
            number = startServer(server);
        const std::string name = ":" + number;
        setenv("DISPLAY", name.c_str(), 1);
        setenv(kTestDisplay, name.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
    }
    int result = 0;
    {
        // Worker-thread GL contexts share textures with the widgets' contexts.
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return result;
}
