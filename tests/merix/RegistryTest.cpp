// The process count and flash flag with real processes: children register,
// hold the flag, end normally or are killed, and the count and the flag
// follow.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "libmerix32/registry.h"
#include "tests/support/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

// A child process that runs `body`, writes its one-line answer to the
// parent and then stays alive until it is killed (so no clean-up code
// runs).
class Child {
public:
    explicit Child(const std::function<std::string()>& body) {
        int report[2];
        if (pipe(report) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            close(report[0]);
            std::string answer = body() + "\n";
            (void)!write(report[1], answer.data(), answer.size());
            for (;;) pause();
        }
        close(report[1]);
        char c;
        while (read(report[0], &c, 1) == 1 && c != '\n') m_answer += c;
        close(report[0]);
    }
    ~Child() { kill9(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    const std::string& answer() const { return m_answer; }
    void kill9() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    std::string m_answer;
};

std::string holdFlagIn(const std::string& dir) {
    auto* registry = new merix::Registry(dir);
    std::string error;
    if (!registry->registerProcess(&error)) return "failed " + error;
    return registry->setFlashActive(true, &error) ? "holding" : "refused " + error;
}

TEST(Registry, FlashFlagIsExclusiveAndNamesItsHolder) {
    TempDir dir;
    merix::Registry registry(dir.dir());
    std::string error;
    ASSERT_TRUE(registry.registerProcess(&error));
    // The holder may repeat itself either way.
    for (bool on : {true, true, false, false}) EXPECT_TRUE(registry.setFlashActive(on, &error)) << error;

    auto holder = std::make_unique<Child>([&] { return holdFlagIn(dir.dir()); });
    ASSERT_EQ(holder->answer(), "holding");
    EXPECT_FALSE(registry.setFlashActive(true, &error));
    EXPECT_NE(error.find(std::to_string(holder->pid())), std::string::npos) << error;
    // Switching off a flag one does not hold changes nothing.
    EXPECT_TRUE(registry.setFlashActive(false, &error));
    EXPECT_FALSE(registry.setFlashActive(true, &error));

    holder->kill9();
    ASSERT_TRUE(registry.setFlashActive(true, &error)) << error;

    Child second([&] { return holdFlagIn(dir.dir()); });
    EXPECT_EQ(second.answer(),
              "refused A VJX flash update is already active in process " + std::to_string(getpid()) + ".");
    ASSERT_TRUE(registry.setFlashActive(false, &error));
    Child third([&] { return holdFlagIn(dir.dir()); });
    EXPECT_EQ(third.answer(), "holding");
}

TEST(Registry, LeftoverFilesOfDeadProcessesDoNotCount) {
    TempDir dir;
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    for (std::string name : {"proc-" + std::to_string(dead) + "-0", std::string("proc-2147483646-3"),
                             std::string("proc-x"), std::string("other")})
        dir.writeText(name, "");
    // A flag file with a pid but no lock is free.
    dir.writeText("flash.lock", std::to_string(dead) + "\n");

    merix::Registry registry(dir.dir());
    std::string error;
    ASSERT_TRUE(registry.registerProcess(&error));
    EXPECT_EQ(registry.activeProcessCount(), 1);
    EXPECT_FALSE(fs::exists(dir.path("proc-" + std::to_string(dead) + "-0")));
    EXPECT_TRUE(registry.setFlashActive(true, &error)) << error;
}

TEST(Registry, RuntimeDirectoryIsMadeForEveryUser) {
    TempDir dir;
    std::string runtime = dir.path("merix32");
    mode_t old = umask(077);
    merix::Registry registry(runtime);
    std::string error;
    EXPECT_TRUE(registry.registerProcess(&error)) << error;
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(runtime.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u);
    ASSERT_TRUE(registry.setFlashActive(true, &error));
    ASSERT_EQ(stat((runtime + "/flash.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST(Registry, UnusableRuntimeDirectoryIsReported) {
    TempDir dir;
    const std::string file = dir.writeText("plain", "");
    merix::Registry registry(file + "/merix32");
    std::string error;
    EXPECT_FALSE(registry.registerProcess(&error));
    EXPECT_NE(error.find(file + "/merix32"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(registry.setFlashActive(true, &error));
    EXPECT_NE(error.find(file), std::string::npos) << error;
    EXPECT_EQ(registry.activeProcessCount(), 0);
    EXPECT_TRUE(registry.setFlashActive(false, &error));
}

TEST(Registry, PlantedLinksAndFifosAreNeverFollowed) {
    TempDir dir;
    const std::string victim = dir.writeText("victim", "precious");
    std::string runtime = dir.path("runtime");
    ASSERT_EQ(mkdir(runtime.c_str(), 01777), 0);
    ASSERT_EQ(symlink(victim.c_str(), (runtime + "/flash.lock").c_str()), 0);
    ASSERT_EQ(mkfifo((runtime + "/registry.lock").c_str(), 0666), 0);

    merix::Registry registry(runtime);
    std::string error;
    EXPECT_FALSE(registry.setFlashActive(true, &error));
    EXPECT_NE(error.find("flash.lock"), std::string::npos) << error;
    EXPECT_FALSE(registry.registerProcess(&error));  // returns instead of blocking on the FIFO
    EXPECT_EQ(fs::file_size(victim), 8u);

    // A runtime directory that is a link to elsewhere is refused.
    std::string elsewhere = dir.path("elsewhere");
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), dir.path("linked").c_str()), 0);
    merix::Registry linked(dir.path("linked"));
    EXPECT_FALSE(linked.registerProcess(&error));
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

}  // namespace
