#include "app/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include "window/window_texts.h"

FileDialogSettings::FileDialogSettings(QObject* parent, const QString& name, const QString& filter,
                                       const QString& default_suffix, const QString& file_name)
    : QObject(parent), filter(filter), default_suffix(default_suffix), file_name(file_name) {
    setObjectName(name);
}

QStringList name_filters(const QString& filter) {
    QStringList filters;
    for (const auto& [description, patterns] : filter_pairs(filter.toStdString())) {
        QStringList shown;
        for (const std::string& p : patterns) shown.append(QString::fromStdString(p));
        filters.append(QString::fromStdString(description) + " (" + shown.join(' ') + ")");
    }
    return filters;
}

namespace {

QMessageBox::Icon to_qt(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Information:
            return QMessageBox::Information;
        case BoxIcon::Warning:
            return QMessageBox::Warning;
        case BoxIcon::Error:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

std::optional<std::string> run_file_dialog(QWidget* owner, FileDialogSettings& settings,
                                           QFileDialog::AcceptMode mode) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    // Handed over as it stands, the filter text would be taken as one list of
    // blank-separated patterns, and no file would be listed at all.
    const QStringList filters = name_filters(settings.filter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    if (!settings.default_suffix.isEmpty()) dialog.setDefaultSuffix(settings.default_suffix);
    if (!settings.file_name.isEmpty()) dialog.selectFile(settings.file_name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    settings.file_name = dialog.selectedFiles().first();
    return settings.file_name.toStdString();
}

}  // namespace

void QtDialogs::box(QWidget* owner, const std::string& text, const std::string& caption,
                    BoxIcon icon) {
    // The text may quote a controller's reply: its bytes are shown one
    // character each, as in the message area, and a NUL as its symbol
    // rather than ending the text there.
    QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QChar(0), QChar(0x2400));
    QMessageBox box(to_qt(icon), QString::fromStdString(caption), shown, QMessageBox::Ok, owner);
    bool ok = false;
    const int autoclose_ms = qEnvironmentVariableIntValue("KFU_BOX_AUTOCLOSE_MS", &ok);
    if (ok) QTimer::singleShot(autoclose_ms, &box, &QMessageBox::accept);
    box.exec();
}

bool QtDialogs::ask_yes_no(QWidget* owner, const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    bool ok = false;
    const int autoclose_ms = qEnvironmentVariableIntValue("KFU_BOX_AUTOCLOSE_MS", &ok);
    if (ok) QTimer::singleShot(autoclose_ms, &box, &QMessageBox::reject);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtDialogs::open_file(QWidget* owner, FileDialogSettings& settings) {
    return run_file_dialog(owner, settings, QFileDialog::AcceptOpen);
}

std::optional<std::string> QtDialogs::save_file(QWidget* owner, FileDialogSettings& settings) {
    return run_file_dialog(owner, settings, QFileDialog::AcceptSave);
}

void QtDialogs::run_modal(QDialog& dialog) { dialog.exec(); }
