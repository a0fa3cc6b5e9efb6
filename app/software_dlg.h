#pragma once
// The About box: product line, the program's version and the contact block.

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;

class Tsoftware : public QDialog {
    Q_OBJECT
public:
    explicit Tsoftware(QWidget* parent = nullptr);

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* OK = nullptr;

    void FormShow();
    void OKClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};
