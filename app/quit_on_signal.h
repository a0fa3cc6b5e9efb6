#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window the ordinary way, so the
// serial port is given back with its old settings even when the tool is ended
// from outside (a logout, a service script).

class QWidget;

void close_on_termination_signals(QWidget& main_window);
