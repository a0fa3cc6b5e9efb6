#pragma once
// Keeps two serial operations from interleaving their bytes on the one line.
//
// Long operations let window events run while they work, so a timer tick or
// a click can start a second exchange in the middle of theirs. Whoever talks
// to the line takes the guard first; a timer tick that finds it taken skips
// its turn, and a click is refused with a short line in the message area.

#include <string>

class LineGuard {
public:
    bool busy() const { return !owner_.empty(); }
    const std::string& owner() const { return owner_; }

    // Takes the guard for `who`; false when someone else holds it.
    bool try_take(const std::string& who) {
        if (busy()) return false;
        owner_ = who;
        return true;
    }
    void release() { owner_.clear(); }

    // Holds the guard for one scope when it could be taken.
    class Hold {
    public:
        Hold(LineGuard& guard, const std::string& who) : guard_(guard), held_(guard.try_take(who)) {}
        ~Hold() {
            if (held_) guard_.release();
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        explicit operator bool() const { return held_; }

    private:
        LineGuard& guard_;
        bool held_;
    };

private:
    std::string owner_;
};
