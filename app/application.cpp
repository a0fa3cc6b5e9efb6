#include "app/application.h"

#include <exception>
#include <string>

#include "app/dialogs.h"

KfuApplication::KfuApplication(int& argc, char** argv, Dialogs& dialogs)
    : QApplication(argc, argv), dialogs_(dialogs) {}

bool KfuApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        dialogs_.box(activeWindow(), e.what(), "Error", BoxIcon::Error);
    } catch (...) {
        dialogs_.box(activeWindow(), "An unknown error occurred.", "Error", BoxIcon::Error);
    }
    return false;
}
