#include "app/software_dlg.h"

#include <QFont>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "window/window_texts.h"

Tsoftware::Tsoftware(QWidget* parent) : QDialog(parent) {
    setObjectName("software");
    setWindowTitle("software");

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setAccessibleName("Memo1");
    Memo1->setReadOnly(true);
    QFont font("Courier New");
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(8);
    Memo1->setFont(font);
    Memo1->setGeometry(9, 8, 201, 209);

    OK = new QPushButton("OK", this);
    OK->setObjectName("OK");
    OK->setGeometry(72, 232, 75, 25);

    setFixedSize(218, 269);
    connect(OK, &QPushButton::clicked, this, &Tsoftware::OKClick);
    Memo1->installEventFilter(this);
    OK->installEventFilter(this);
}

void Tsoftware::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void Tsoftware::FormShow() {
    // Replaces the text, so the block appears once however often it is shown.
    QStringList text;
    for (const std::string& line : about_lines(program_version())) text.append(QString::fromStdString(line));
    Memo1->setPlainText(text.join('\n'));
}

void Tsoftware::OKClick() { hide(); }

// OKKeyDown and Memo1KeyDown: Escape closes the box from either.
bool Tsoftware::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == OK || watched == Memo1) && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        hide();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
