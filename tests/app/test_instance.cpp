// The real program as a process: a second instance is refused, and a
// terminated instance closes its window and leaves nothing behind.

#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

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

}  // namespace
