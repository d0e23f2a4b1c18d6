// The controls that the settings' data exchange reads and writes, for every
// native dialog made from a template (the main dialog, the station window):
// their texts, the items of their lists, the focus and the message box.
#pragma once

#include <string>

#include "ui/DialogTemplates.h"
#include "ui/Win32Api.h"
#include "ui/win32/TemplateDialogWin.h"

namespace velmora::ui {

// `View` is the model's view interface (IDialogView, IStationView); the
// dialog derives from this and sets m_hWnd once its window is made.
template <typename View>
class CSettingsControlsWin : public View {
protected:
    using TemplateOf = const DialogTemplate& (*)();
    explicit CSettingsControlsWin(TemplateOf dialogTemplate) : m_template(dialogTemplate) {}

    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }

    std::string ControlText(int id) override {
        return TemplateControlText(m_hWnd, m_template(), id);
    }
    void SetControlText(int id, const std::string& text) override {
        ::SetWindowTextW(Item(id), Wide(text).c_str());
    }
    int ItemCount(int id) override {
        return static_cast<int>(::SendMessageW(Item(id), CB_GETCOUNT, 0, 0));
    }
    std::string ItemText(int id, int index) override { return ComboItemText(Item(id), index); }
    void SelectItem(int id, int index) override {
        ::SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    void FocusControl(int id) override {
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
        ::SendMessageW(Item(id), EM_SETSEL, 0, -1);
    }
    void ShowMessage(const MessageRequest& message) override { ShowMessageBox(m_hWnd, message); }

    HWND m_hWnd = nullptr;

private:
    TemplateOf m_template;
};

}  // namespace velmora::ui
