// Global hot keys: a key with modifiers that reaches the agent whichever window has the
// keyboard. Keys are named as the settings store them: letters and digits by their
// upper-case ASCII code, F1 to F12 by 0x70 to 0x7B; modifiers 1 Alt, 2 Control, 4 Shift.
// The X11 implementation lives in platform/x11; FakeHotKeys serves tests.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <utility>

namespace platform {

inline constexpr int kHotKeyAlt = 1;
inline constexpr int kHotKeyControl = 2;
inline constexpr int kHotKeyShift = 4;

class HotKeys {
  public:
    enum class Result { Registered, InUse, Failed };
    virtual ~HotKeys() = default;
    // Takes the key for id (a key id already held is given up first). InUse: another
    // program holds the key; Failed: the key cannot be named or taken.
    virtual Result registerKey(int id, int virtualKey, int modifiers) = 0;
    virtual void unregisterKey(int id) = 0;
    // Whether the key could be taken now, without keeping it. The agent's own keys count
    // as in use.
    virtual Result check(int virtualKey, int modifiers) = 0;
    // Called with the id of a pressed key, on a thread of the implementation's own.
    std::function<void(int)> pressed;
};

class FakeHotKeys : public HotKeys {
  public:
    std::set<std::pair<int, int>> takenElsewhere;  // (key, modifiers) other programs hold
    std::map<int, std::pair<int, int>> held;       // id -> (key, modifiers)

    Result registerKey(int id, int key, int modifiers) override {
        held.erase(id);
        Result r = check(key, modifiers);
        if (r == Result::Registered) held[id] = {key, modifiers};
        return r;
    }
    void unregisterKey(int id) override { held.erase(id); }
    Result check(int key, int modifiers) override {
        if (key <= 0) return Result::Failed;
        if (takenElsewhere.count({key, modifiers})) return Result::InUse;
        for (const auto& entry : held)
            if (entry.second == std::make_pair(key, modifiers)) return Result::InUse;
        return Result::Registered;
    }
    void press(int id) {
        if (pressed) pressed(id);
    }
};

}  // namespace platform
