#pragma once
// Every modal box, file dialog and modal window of the tool goes through this
// interface, so tests answer them without a person and without blocking.

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "common/reporter.h"

class QDialog;
class QWidget;

// The settings of one file dialog of the main window. The dialog itself is
// made only while it is shown; the name chosen last is offered next time.
class FileDialogSettings : public QObject {
    Q_OBJECT
public:
    FileDialogSettings(QObject* parent, const QString& name, const QString& filter,
                       const QString& default_suffix = {}, const QString& file_name = {});

    QString filter;
    QString default_suffix;
    QString file_name;
};

// The filter text "Description|*.a;*.b|Other|*.c" as the toolkit's file
// dialog expects it: "Description (*.a *.b)", "Other (*.c)".
QStringList name_filters(const QString& filter);

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal box with one OK button; `owner` may be null.
    virtual void box(QWidget* owner, const std::string& text, const std::string& caption,
                     BoxIcon icon) = 0;
    // A modal Yes/No question; true for Yes. No is the default button, a box
    // closed any other way answers No, and so does a Dialogs that cannot ask.
    virtual bool ask_yes_no(QWidget* owner, const std::string& text, const std::string& caption) {
        (void)owner;
        (void)text;
        (void)caption;
        return false;
    }
    // The chosen file's full name, or nothing when the user cancelled.
    virtual std::optional<std::string> open_file(QWidget* owner, FileDialogSettings& settings) = 0;
    virtual std::optional<std::string> save_file(QWidget* owner, FileDialogSettings& settings) = 0;
    // Shows `dialog` modally and returns when it has closed.
    virtual void run_modal(QDialog& dialog) = 0;
};

// The real dialogs of the toolkit. When the environment variable
// KFU_BOX_AUTOCLOSE_MS holds a number, every box closes itself after that
// many milliseconds (unattended runs: the single-instance test, demos on a
// machine nobody watches).
class QtDialogs : public Dialogs {
public:
    void box(QWidget* owner, const std::string& text, const std::string& caption,
             BoxIcon icon) override;
    bool ask_yes_no(QWidget* owner, const std::string& text, const std::string& caption) override;
    std::optional<std::string> open_file(QWidget* owner, FileDialogSettings& settings) override;
    std::optional<std::string> save_file(QWidget* owner, FileDialogSettings& settings) override;
    void run_modal(QDialog& dialog) override;
};
