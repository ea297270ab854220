// Message boxes: a caption, a text, an icon and a choice of buttons; the answer is the
// button pressed. The window layer shows real dialogs; RecordingMessageBox keeps every
// text for tests and for sessions that must not block (answering with a preset button).
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class MsgIcon { None, Information, Warning, Error };
enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    virtual MsgAnswer show(const std::string& caption, const std::string& text, MsgIcon icon,
                           MsgButtons buttons = MsgButtons::Ok) = 0;
};

class RecordingMessageBox : public MessageBoxes {
  public:
    struct Shown {
        std::string caption, text;
        MsgIcon icon;
    };
    std::vector<Shown> shown;
    MsgAnswer answer = MsgAnswer::Ok;

    MsgAnswer show(const std::string& caption, const std::string& text, MsgIcon icon,
                   MsgButtons) override {
        shown.push_back({caption, text, icon});
        return answer;
    }
};

}  // namespace platform
