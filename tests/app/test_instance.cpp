// The real program as a process: a second instance is refused, a terminated
// instance closes its window and leaves nothing behind, and --help and
// --version are answered without a display.

#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include "common/version.h"

namespace {

QProcessEnvironment tool_environment(const QString& runtime_dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime_dir);  // a lock of our own, apart from other runs
    env.insert("KFU_BOX_AUTOCLOSE_MS", "100");
    return env;
}

// True once some process holds the lock file.
bool lock_taken(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY);
    if (fd < 0) return false;
    const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return taken;
}

TEST(SingleInstance, SecondStartIsRefusedWithExitCodeOne) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    runtime.setAutoRemove(true);
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess first;
    first.setProcessEnvironment(tool_environment(runtime.path()));
    first.start(KFU_UTIL_PATH, {});
    ASSERT_TRUE(first.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lock_taken(runtime.filePath("kr7_util_mutex.lock")); }, 10000));

    QProcess second;
    second.setProcessEnvironment(tool_environment(runtime.path()));
    second.start(KFU_UTIL_PATH, {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(first.state(), QProcess::Running);

    // Ending the first one from outside closes its window the ordinary way,
    // even while its start-up port dialog is open.
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(lock_taken(runtime.filePath("kr7_util_mutex.lock")));

    // With the first one gone a new start is accepted again.
    QProcess third;
    third.setProcessEnvironment(tool_environment(runtime.path()));
    third.start(KFU_UTIL_PATH, {});
    ASSERT_TRUE(third.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lock_taken(runtime.filePath("kr7_util_mutex.lock")); }, 10000));
    EXPECT_EQ(third.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(third.processId()), SIGTERM);
    EXPECT_TRUE(third.waitForFinished(10000));
}

// No display, no platform plugin chosen: had the window toolkit been started,
// it would have ended the program without an answer.
QProcessEnvironment no_display() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    return env;
}

TEST(InfoOptions, AnsweredOnStdoutWithoutADisplay) {
    QProcess version;
    version.setProcessEnvironment(no_display());
    version.start(KFU_UTIL_PATH, {"--version"});
    ASSERT_TRUE(version.waitForFinished(10000));
    EXPECT_EQ(version.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.readAllStandardOutput().toStdString(),
              std::string("korvane-util ") + kfu_version + "\n");
    EXPECT_EQ(version.readAllStandardError().toStdString(), "");

    // Behind an option of the toolkit's, and ahead of --version.
    QProcess help;
    help.setProcessEnvironment(no_display());
    help.start(KFU_UTIL_PATH, {"-style", "fusion", "--help", "--version"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(help.exitCode(), 0);
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    EXPECT_TRUE(text.startsWith("Usage: korvane-util")) << text.toStdString();
    EXPECT_TRUE(text.contains("korvane-util(1)")) << text.toStdString();
}

TEST(InfoOptions, AnAnswerThatCannotBeWrittenFails) {
    QProcess version;
    version.setProcessEnvironment(no_display());
    version.setStandardOutputFile("/dev/full");
    version.start(KFU_UTIL_PATH, {"--version"});
    ASSERT_TRUE(version.waitForFinished(10000));
    EXPECT_EQ(version.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(version.exitCode(), 1);
    EXPECT_TRUE(version.readAllStandardError().contains("korvane-util"));
}

}  // namespace
