#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>

#include "app/quit_on_signal.h"

namespace {

int signal_pipe[2] = {-1, -1};

extern "C" void on_signal(int) {
    const char byte = 1;
    // Nothing useful can be done in a signal handler when this fails.
    [[maybe_unused]] ssize_t written = ::write(signal_pipe[1], &byte, 1);
}

}  // namespace

void close_on_termination_signals(QWidget& main_window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) != 0) return;
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &main_window);
    QObject::connect(notifier, &QSocketNotifier::activated, &main_window, [&main_window] {
        char byte;
        [[maybe_unused]] ssize_t got = ::read(signal_pipe[0], &byte, 1);
        // A modal dialog may be running its own loop; quitting ends them all.
        main_window.close();
        QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
}
