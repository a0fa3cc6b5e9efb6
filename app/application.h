#pragma once
// The application object: shows any exception that escapes an event handler
// in an error box instead of ending the program.

#include <QApplication>

class Dialogs;

class KfuApplication : public QApplication {
public:
    KfuApplication(int& argc, char** argv, Dialogs& dialogs);
    bool notify(QObject* receiver, QEvent* event) override;

private:
    Dialogs& dialogs_;
};
