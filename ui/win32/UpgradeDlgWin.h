// CUpgradeDlgWin: the main window as a native Win32 dialog, a view over
// CUpgradeDlgModel. The window comes from the model's template, built in
// memory as an extended dialog template; the dialog procedure forwards the
// user's commands to the model. The worker's bar and box calls reach the UI
// thread through the model's call queue, woken by a posted window message.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ui/DialogModel.h"
#include "ui/Win32Api.h"

namespace velmora::ui {

class CUpgradeDlgWin final : private IDialogView {
public:
    explicit CUpgradeDlgWin(HINSTANCE instance);
    ~CUpgradeDlgWin() override;

    CUpgradeDlgWin(const CUpgradeDlgWin&) = delete;
    CUpgradeDlgWin& operator=(const CUpgradeDlgWin&) = delete;

    // Runs the dialog modally; returns when it has closed and the job, if
    // any, has ended.
    INT_PTR DoModal();
    // Takes `path` as if chosen with Select File, made absolute (the command line).
    void TakeFile(const std::wstring& path);

    CUpgradeDlgModel& Model() { return *m_model; }

private:
    class Bar;
    class Boxes;

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int code);
    void FillLists();
    void AddSystemMenuItems();
    void Close();

    // IDialogView
    std::string ControlText(int id) override;
    void SetControlText(int id, const std::string& text) override;
    int ItemCount(int id) override;
    std::string ItemText(int id, int index) override;
    void SelectItem(int id, int index) override;
    void SetItems(int id, const std::vector<ListItem>& items) override;
    void EnableControl(int id, bool enable) override;
    void ShowControl(int id, bool show) override;
    void FocusControl(int id) override;
    bool HasFocus(int id) override;
    void ResizeDialog(int cx, int cy) override;
    void CheckSysMenuItem(unsigned command, bool checked) override;
    void ShowMessage(const MessageRequest& message) override;
    bool AskYesNo(const std::string& question) override;
    std::optional<std::string> ChooseFile(const std::vector<FileFilter>& filters) override;
    void ShowAbout() override;
    void OpenStation(const StationChoices& choices) override;
    void CloseOpenBoxes() override;

    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }

    HINSTANCE m_instance;
    HWND m_hWnd = nullptr;
    std::unique_ptr<CCallQueue> m_calls;
    std::unique_ptr<Bar> m_analyseBar;
    std::unique_ptr<Bar> m_sendBar;
    std::unique_ptr<Boxes> m_boxes;
    std::unique_ptr<CUpgradeDlgModel> m_model;
};

// Shows the about box (template 100) over `owner`, modally.
void RunAboutBox(HINSTANCE instance, HWND owner);

// Runs a template of the model as a modal dialog over `owner`, in the face
// this system can draw.
INT_PTR RunTemplateDialog(HINSTANCE instance, const DialogTemplate& dlg, HWND owner, DLGPROC proc,
                          LPARAM param);
// Fills the lists of the dialog `hwnd` made from `dlg` with the template's
// items, in the order of its initialisation data; list `skip` is left empty.
void FillTemplateLists(HWND hwnd, const DialogTemplate& dlg, int skip);
// A window's text.
std::wstring WindowText(HWND hwnd);
// The text of item `index` of a combo box.
std::string ComboItemText(HWND combo, int index);
// Control `id` of the dialog `hwnd` made from `dlg`: a drop-down list's
// selected item ("" when none), any other control's text.
std::string TemplateControlText(HWND hwnd, const DialogTemplate& dlg, int id);
// A modal question over `owner` with Yes and No, No the default; true for Yes.
bool AskYesNoBox(HWND owner, const std::string& question);
// A modal box over `owner` with the message and its detail below it.
void ShowMessageBox(HWND owner, const MessageRequest& message);
// The common open-file dialog over `owner`: the chosen full path, nothing
// when cancelled. Any name may be typed, whatever the filter shows.
std::optional<std::string> ChooseOpenFile(HWND owner, const std::vector<FileFilter>& filters);

// The face the dialogs are drawn with on this system: Gulim, else a Korean
// stand-in, else a sans-serif face (see ChooseDialogFace).
const std::string& DialogFace();

// The executable's file name without its folder and extension: the caption
// of the program's message boxes.
std::wstring ExecutableBaseName();

}  // namespace velmora::ui
