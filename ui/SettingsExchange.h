// The job's settings as both windows show them (the main dialog's settings
// area and the station window): the line, the upgrade type, offset, model,
// project, the database limits and the LNB values, exchanged between the
// controls and DialogValues with the dialog's rules, and the enabling that
// follows the upgrade type. Both templates give these controls the same ids.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/HostInterfaces.h"
#include "base/JobSettings.h"

namespace velmora::ui {

// A modal box with an OK button. `detail` is an optional second text (the
// reason and the remedy) shown under the message; empty for none.
struct MessageRequest {
    std::string text;
    MessageCaption caption = MessageCaption::Application;
    std::string detail;
};

// What the exchange asks of a window. All calls come on the UI thread. Texts
// are UTF-8.
class ISettingsControls {
public:
    virtual ~ISettingsControls() = default;

    // An edit box's text, an editable combo's edit text, or the selected
    // item of a drop-down list ("" when none is selected).
    virtual std::string ControlText(int id) = 0;
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual int ItemCount(int id) = 0;
    virtual std::string ItemText(int id, int index) = 0;
    virtual void SelectItem(int id, int index) = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    // Gives the control the focus and selects its text.
    virtual void FocusControl(int id) = 0;
    // Shows a modal message box and returns when it is closed.
    virtual void ShowMessage(const MessageRequest& message) = 0;
};

// A list or combo. Saving reads its text. Loading selects the first item
// that begins with the member, ignoring case; where none does, an editable
// combo shows the member and a drop-down list keeps its selection.
void ExchangeList(ISettingsControls& view, bool save, int id, std::string& member);

// A number field. Saving a text that is no number prompts for one, puts the
// focus on the field and returns false; the member keeps its value.
bool ExchangeNumber(ISettingsControls& view, bool save, int id, std::int32_t& member);

// Every setting but the port, in the dialog's order. Saving stops at the
// first number field whose text is not a number: the members from that
// field on keep their values. False when a field failed.
bool ExchangeSettings(ISettingsControls& view, bool save, DialogValues& values);

// Enables the ten fields that only upgrade types other than "Code" use when
// `typeText` (the selected item's text) is another type; disables them for
// "Code" (exact comparison).
void EnableTypeFields(ISettingsControls& view, const std::string& typeText);

// A decimal number as a number field takes it: blanks around, an optional
// sign, digits and nothing else, within 32 bits.
std::optional<std::int32_t> ParseNumberField(const std::string& text);

// The prompt for a number field whose text is no number.
std::string NumberPrompt(int id, const std::string& text);

}  // namespace velmora::ui
