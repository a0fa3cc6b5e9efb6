#pragma once
// The port settings dialog: port name, baud rate, read time-out and the
// bootloader speed switch. Its boxes stay the tool's settings for the run;
// other routines read them later.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class Tmain_window;

class TCommDialog : public QDialog {
    Q_OBJECT
public:
    explicit TCommDialog(Tmain_window& main);

    QPushButton* BitBtnCancel = nullptr;
    QPushButton* BitBtnOk = nullptr;
    QComboBox* ComPortComboBox = nullptr;
    QComboBox* BaudrateComboBox = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* TimeoutComboBox = nullptr;
    QLabel* Label3 = nullptr;
    QCheckBox* BootloaderBaudCheckBox = nullptr;

    // Runs on every showing.
    void FormCreate();
    void BitBtnOkClick();
    void BitBtnCancelClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Tmain_window& main_;
};
