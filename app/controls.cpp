#include "app/controls.h"

#include <QComboBox>

QComboBox* editable_combo(const char* name, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    // Completing typed text from the list would change what is sent.
    c->setCompleter(nullptr);
    return c;
}
