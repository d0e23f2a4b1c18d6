// The small interfaces through which a running job reports to whoever hosts
// it: the dialog, the command line or a test. The engine never prints and never
// touches a window itself.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// One of the two progress bars ("Data analyse Progress", "Data Send Progress").
// Calls return once the host has shown the new state.
class IProgressBar {
public:
    virtual ~IProgressBar() = default;
    virtual void SetRange(int lower, int upper) = 0;
    virtual void SetPos(int pos) = 0;
};

// Caption of a message box.
enum class MessageCaption {
    Application,  // the executable's file name without its extension
    Prompt,       // "提示": the box of the external packer's start failure
};

// The caption text of MessageCaption::Prompt, in UTF-8.
inline constexpr std::string_view kPromptCaption = "\xE6\x8F\x90\xE7\xA4\xBA";

// A modal message box with a single OK button. Show returns once the user has
// acknowledged it (or the job is being cancelled).
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    virtual void Show(const std::string& text, MessageCaption caption) = 0;
    void Show(const std::string& text) { Show(text, MessageCaption::Application); }
};

// A progress bar that shows nothing; for callers with no bar to report to.
class NullProgressBar final : public IProgressBar {
public:
    void SetRange(int /*lower*/, int /*upper*/) override {}
    void SetPos(int /*pos*/) override {}
};

}  // namespace velmora
