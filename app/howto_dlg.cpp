#include "app/howto_dlg.h"

#include <QFont>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "window/window_texts.h"

TfrmHowTo::TfrmHowTo(QWidget* parent) : QDialog(parent) {
    setObjectName("frmHowTo");
    setWindowTitle("How To");
    QFont font("Tahoma");
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setAccessibleName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(QString::fromLatin1(kHowToText));
    Memo1->setGeometry(8, 8, 305, 339);

    Button1 = new QPushButton("Ok", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(120, 358, 75, 25);

    setFixedSize(321, 393);
    connect(Button1, &QPushButton::clicked, this, &TfrmHowTo::Button1Click);
}

void TfrmHowTo::Button1Click() { hide(); }

void TfrmHowTo::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
