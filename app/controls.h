#pragma once
// Controls built alike in more than one window.

class QComboBox;
class QWidget;

// A combo box whose text the user types, found by `name`. Typed text is
// taken as typed: never inserted into the list, never completed from it.
QComboBox* editable_combo(const char* name, QWidget* parent);
