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
#include "ui/win32/DialogWindowWin.h"

namespace velmora::ui {

class CUpgradeDlgWin final : private CDialogWindowWin<IDialogView> {
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

    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnInitDialog() override;
    void OnCommand(int id, int code);
    void FillLists();
    void AddSystemMenuItems();
    void Close();

    // IDialogView
    void SetItems(int id, const std::vector<ListItem>& items) override;
    void EnableControl(int id, bool enable) override;
    void ShowControl(int id, bool show) override;
    bool HasFocus(int id) override;
    void ResizeDialog(int cx, int cy) override;
    void CheckSysMenuItem(unsigned command, bool checked) override;
    bool AskYesNo(const std::string& question) override;
    std::optional<std::string> ChooseFile(const std::vector<FileFilter>& filters) override;
    void ShowAbout() override;
    void OpenStation(const StationChoices& choices) override;
    void CloseOpenBoxes() override;

    HINSTANCE m_instance;
    std::unique_ptr<CCallQueue> m_calls;
    std::unique_ptr<Bar> m_analyseBar;
    std::unique_ptr<Bar> m_sendBar;
    std::unique_ptr<Boxes> m_boxes;
    std::unique_ptr<CUpgradeDlgModel> m_model;
};

// Shows the about box (template 100) over `owner`, modally.
void RunAboutBox(HINSTANCE instance, HWND owner);

}  // namespace velmora::ui
