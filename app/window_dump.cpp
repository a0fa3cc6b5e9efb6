// The three dump buttons of the Maintenance tab.

#include "app/dialogs.h"
#include "app/main_window.h"
#include "dump/dump.h"

namespace {

class WindowDumpHost : public DumpHost {
public:
    explicit WindowDumpHost(Tmain_window& w) : w_(w) {}
    std::optional<std::string> ask_dump_file_name() override {
        return w_.dialogs().save_file(&w_, *w_.EEDump);
    }

private:
    Tmain_window& w_;
};

}  // namespace

void Tmain_window::dump(int first, int last) {
    on_line("the dump", LineUse::Click, [this, first, last] {
        WindowDumpHost host(*this);
        DumpMemory(*motor_, *this, host, DumpRange{first, last});
    });
}

void Tmain_window::btnDumpEEPromClick() { dump(kEEPromDump.first, kEEPromDump.last); }
void Tmain_window::btnCoreDumpClick() { dump(kCoreDump.first, kCoreDump.last); }
void Tmain_window::btnBootCrashClick() { dump(kBootCrashDump.first, kBootCrashDump.last); }
