#pragma once
// Answers the window's boxes and dialogs without a person.

#include <QDialog>
#include <deque>
#include <functional>
#include <vector>

#include "app/dialogs.h"
#include "support/recorder.h"

class FakeDialogs : public Dialogs {
public:
    std::vector<RecordedBox> boxes;
    std::deque<std::optional<std::string>> file_answers;  // next open/save answers
    std::vector<std::string> file_dialogs;                // object names asked
    std::vector<QDialog*> modal_runs;
    std::function<void(QDialog&)> on_modal;  // acts as the user would
    std::vector<std::string> questions;      // Yes/No questions asked
    bool answer_yes = false;                 // the answer to all of them

    void box(QWidget*, const std::string& text, const std::string& caption, BoxIcon icon) override {
        boxes.push_back({text, caption, icon});
    }
    bool ask_yes_no(QWidget*, const std::string& text, const std::string&) override {
        questions.push_back(text);
        return answer_yes;
    }
    std::optional<std::string> open_file(QWidget*, FileDialogSettings& s) override {
        return answer(s);
    }
    std::optional<std::string> save_file(QWidget*, FileDialogSettings& s) override {
        return answer(s);
    }
    void run_modal(QDialog& dialog) override {
        modal_runs.push_back(&dialog);
        dialog.show();
        if (on_modal) on_modal(dialog);
        dialog.hide();
    }

private:
    std::optional<std::string> answer(FileDialogSettings& s) {
        file_dialogs.push_back(s.objectName().toStdString());
        if (file_answers.empty()) return std::nullopt;
        auto a = file_answers.front();
        file_answers.pop_front();
        return a;
    }
};
