#pragma once
// The main window's Win32 face: the same controls as the Qt window, built
// with user32 and the common controls, turning window messages into the
// logic's handlers and implementing WindowView over the controls.

#include <windows.h>

#include <array>
#include <string>

#include "window/window_logic.h"
#include "window/window_view.h"

class Win32MainWindow : public WindowView, public WindowLogic {
public:
    explicit Win32MainWindow(HINSTANCE instance);
    ~Win32MainWindow() override;

    // Creates the window with its controls and dialogs and shows it.
    bool create(int show);
    // The message loop; returns the program's exit code.
    int run();

    // --- WindowView ---
    std::string text(Ctl control) const override;
    void set_text(Ctl control, const std::string& text) override;
    bool checked(Ctl control) const override;
    void set_checked(Ctl control, bool checked) override;
    void set_enabled(Ctl control, bool enabled) override;
    std::vector<std::string> items(Ctl combo) const override;
    void set_items(Ctl combo, const std::vector<std::string>& items) override;
    void select_item(Ctl combo, int index) override;
    void set_command_list(const std::vector<std::string>& items) override;
    int line_count(Ctl view) const override;
    std::string line(Ctl view, int index) const override;
    std::vector<std::string> lines(Ctl view) const override;
    void set_lines(Ctl view, const std::vector<std::string>& lines) override;
    void append_message(const std::string& line) override;
    void clear_messages() override;
    int current_page() const override;
    void set_current_page(int page) override;
    int progress_minimum() const override;
    int progress_maximum() const override;
    void set_progress_range(int min, int max) override;
    int progress_value() const override;
    void set_progress_value(int value) override;
    void repaint_progress_bar() override;
    void start_timer(Timer timer, int interval_ms) override;
    void stop_timer(Timer timer) override;
    bool timer_active(Timer timer) const override;
    int timer_interval(Timer timer) const override;
    void set_timer_interval(Timer timer, int interval_ms) override;
    void wait_cmd_timer(int interval_ms) override;
    void let_events_run() override;
    bool shift_held() const override;
    void show_box(const std::string& text, const std::string& caption, BoxIcon icon,
                  BoxOwner owner) override;
    bool ask_question(const std::string& text, const std::string& caption) override;
    std::optional<std::string> choose_file(FileDialog dialog) override;
    void show_port_dialog(bool modal) override;

private:
    static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK command_edit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
                                              UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK script_view_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
                                             UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK tabs_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                      DWORD_PTR self);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void on_command(int id, int code);
    void on_combo_edit(int id, int code);
    void create_controls();
    void create_menu();
    void apply_fonts();
    void layout();
    void show_page(int page);
    // One message through the accelerators and the dialogs' keyboard
    // handling, then to its window; false for WM_QUIT, which stays posted.
    bool dispatch(MSG& msg);
    HWND control(Ctl c) const;
    HWND item(int id) const;
    int scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND tabs_ = nullptr;
    HWND port_dialog_ = nullptr;
    HWND about_ = nullptr;
    HWND howto_ = nullptr;
    HMENU menu_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HFONT ui_font_ = nullptr;
    HFONT memo_font_ = nullptr;
    int dpi_ = 96;
    int tab_height_ = 193;  // at 96 dpi; the splitter moves it
    int drag_offset_ = -1;  // while the splitter is dragged
    bool close_pending_ = false;
    // A change made by the window itself, not by the user; until the
    // controls are all there, every change is.
    bool quiet_ = true;
    HWND focus_ = nullptr;
    int progress_min_ = 0, progress_max_ = 100, progress_ = 0;
    int progress_width_ = 1;    // the bar's, in pixels
    int progress_column_ = -1;  // the bar's end, in pixels, as last shown
    struct TimerState {
        bool active = false;
        int interval = 0;
    };
    std::array<TimerState, 3> timers_{};
    std::array<std::wstring, 5> file_names_;
};
