// The three dump buttons of the Maintenance tab.

#include "dump/dump.h"
#include "window/window_logic.h"

namespace {

class WindowDumpHost : public DumpHost {
public:
    explicit WindowDumpHost(WindowView& view) : view_(view) {}
    std::optional<std::string> ask_dump_file_name() override {
        return view_.choose_file(FileDialog::EEDump);
    }

private:
    WindowView& view_;
};

}  // namespace

void WindowLogic::dump(int first, int last) {
    on_line("the dump", LineUse::Click, [this, first, last] {
        WindowDumpHost host(view_);
        DumpMemory(*motor_, *this, host, DumpRange{first, last});
    });
}

void WindowLogic::btnDumpEEPromClick() { dump(kEEPromDump.first, kEEPromDump.last); }
void WindowLogic::btnCoreDumpClick() { dump(kCoreDump.first, kCoreDump.last); }
void WindowLogic::btnBootCrashClick() { dump(kBootCrashDump.first, kBootCrashDump.last); }
