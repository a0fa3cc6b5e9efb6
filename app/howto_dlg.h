#pragma once
// The How-to box: a crib sheet of the script directives.

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

class TfrmHowTo : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHowTo(QWidget* parent = nullptr);

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;

    void Button1Click();

protected:
    // Only its button and the window's close button close this box.
    void keyPressEvent(QKeyEvent* event) override;
};
