#include "app/comm_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

#include "app/controls.h"
#include "app/main_window.h"

namespace {

QLabel* label(const char* name, const char* caption, QWidget* buddy, QWidget* parent) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    l->setBuddy(buddy);
    return l;
}

}  // namespace

TCommDialog::TCommDialog(Tmain_window& main) : QDialog(&main), main_(main) {
    setObjectName("CommDialog");
    setWindowTitle("CommDialog");

    BitBtnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", this);
    BitBtnCancel->setObjectName("BitBtnCancel");
    BitBtnOk = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
    BitBtnOk->setObjectName("BitBtnOk");
    BitBtnOk->setDefault(true);

    ComPortComboBox = editable_combo("ComPortComboBox", this);
    BaudrateComboBox = editable_combo("BaudrateComboBox", this);
    BaudrateComboBox->addItems({"115200", "19200"});
    BaudrateComboBox->setEditText("115200");
    Label1 = label("Label1", "Port:", ComPortComboBox, this);
    Label2 = label("Label2", "Baudrate:", BaudrateComboBox, this);
    TimeoutComboBox = editable_combo("TimeoutComboBox", this);
    TimeoutComboBox->addItems({"0", "1", "10", "30", "100", "150", "200"});
    TimeoutComboBox->setCurrentIndex(4);
    Label3 = label("Label3", "Timeout [ms]:", TimeoutComboBox, this);
    BootloaderBaudCheckBox = new QCheckBox("use 115200 Baud for Bootloader", this);
    BootloaderBaudCheckBox->setObjectName("BootloaderBaudCheckBox");
    BootloaderBaudCheckBox->setChecked(true);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(ComPortComboBox, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(BaudrateComboBox, 1, 1);
    grid->addWidget(Label3, 2, 0);
    grid->addWidget(TimeoutComboBox, 2, 1);
    grid->addWidget(BootloaderBaudCheckBox, 3, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtnOk);
    buttons->addWidget(BitBtnCancel);
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    setFixedSize(235, 163);

    connect(BitBtnOk, &QPushButton::clicked, this, &TCommDialog::BitBtnOkClick);
    connect(BitBtnCancel, &QPushButton::clicked, this, &TCommDialog::BitBtnCancelClick);
}

void TCommDialog::showEvent(QShowEvent* event) {
    // Only a real showing refills the boxes; restoring the minimised dialog
    // must not throw away a port name or rate the user has just typed.
    if (!event->spontaneous()) FormCreate();
    QDialog::showEvent(event);
}

void TCommDialog::FormCreate() { main_.CommDialogFormCreate(); }

void TCommDialog::BitBtnOkClick() {
    main_.CommDialogOkClick();
    accept();
}

void TCommDialog::BitBtnCancelClick() { reject(); }
