// What every native dialog made from a template has in common (the main
// dialog, the station window): running it modally with its dialog procedure,
// and the controls that the settings' data exchange reads and writes (their
// texts, the items of their lists, the focus, the message box).
#pragma once

#include <string>

#include "ui/DialogTemplates.h"
#include "ui/Win32Api.h"
#include "ui/win32/TemplateDialogWin.h"

namespace velmora::ui {

// `View` is the model's view interface (IDialogView, IStationView). The
// dialog derives from this, handles WM_INITDIALOG in OnInitDialog (m_hWnd is
// set by then) and every later message in OnMessage.
template <typename View>
class CDialogWindowWin : public View {
protected:
    using TemplateOf = const DialogTemplate& (*)();
    explicit CDialogWindowWin(TemplateOf dialogTemplate) : m_template(dialogTemplate) {}

    // Runs the dialog modally over `owner` (none: on its own); returns once it
    // has closed.
    INT_PTR RunModal(HINSTANCE instance, HWND owner) {
        return RunTemplateDialog(instance, m_template(), owner, DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    }
    virtual void OnInitDialog() = 0;
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

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
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<CDialogWindowWin*>(lParam);
            ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            self->m_hWnd = hwnd;
            self->OnInitDialog();
            return TRUE;  // the focus goes to the first tab stop, Start
        }
        auto* self = reinterpret_cast<CDialogWindowWin*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
        return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
    }

    TemplateOf m_template;
};

}  // namespace velmora::ui
