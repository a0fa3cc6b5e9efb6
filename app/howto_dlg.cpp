#include "app/howto_dlg.h"

#include <QFont>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

// The runs of spaces line the arrows up in the box's proportional font; the
// blank at the end of "printed on " is part of the text.
const char* const kHowToText =
    "How to....\n"
    "\n"
    "if-statements:\n"
    "\n"
    "if equal              --> #ifeq(command,value){\n"
    "if not equal        --> #ifneq(command,value){\n"
    "if greater than   --> #ifgt(command,value){\n"
    "if lower than      --> #iflt(command,value){\n"
    "\n"
    "end of statement:  #}\n"
    "\n"
    "\n"
    "#ifeq(command, value){\n"
    "\n"
    "...\n"
    "\n"
    "#}\n"
    "\n"
    "______________________________________\n"
    "\n"
    "change motor number:\n"
    "\n"
    "#motor 3\n"
    "\n"
    "______________________________________\n"
    "\n"
    "output:\n"
    "\n"
    "#output this text behind #output will be printed on \n"
    "screen\n"
    "\n"
    "______________________________________\n"
    "\n"
    "Timer:\n"
    "\n"
    "#tm500";

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
