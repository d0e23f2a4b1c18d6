// What the main dialog means, apart from any toolkit: its members and their
// defaults, the data exchange between members and controls, the enabling that
// follows the upgrade type, and the wiring of Start, Select File and the
// about item to the engine. A view (Qt, Win32) builds the windows from the
// templates (DialogTemplates.h), implements IDialogView and forwards the
// user's commands here.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "serial/PortList.h"
#include "transfer/UpgradeController.h"
#include "ui/CallQueue.h"
#include "ui/DialogTemplates.h"
#include "ui/SettingsExchange.h"

namespace velmora::ui {

struct StationChoices;

// Select File shows program images first, then channel lists and all
// files; any other name may be typed.
const std::vector<FileFilter>& SelectFileFilters();

// One entry of the Port list. `device` is the device to open for it; empty
// means "COM<n>" as the serial layer resolves the last digit of the name.
struct PortEntry {
    std::string name;         // the list's text, e.g. "COM1"
    std::string description;  // what it stands for, e.g. "/dev/ttyS0"
    std::string device;
};
// Gives the entries of the Port list.
using PortSource = std::function<std::vector<PortEntry>()>;
// "COM1" to "COM8", each described by the device it stands for here.
std::vector<PortEntry> StandardPorts();
// "COM1" to "COM8", then every detected port by its label
// ("/dev/ttyUSB0 – FT232R USB UART", "COM11 – USB Serial Port"), opened
// exactly as detected. A detected port whose label is already in the list
// (a bare "COM3" under Wine) is not listed twice.
std::vector<PortEntry> PortEntries(const std::vector<SerialPortInfo>& detected);

// One item of a list as the model fills it: its text and, where the view can
// show one, its tooltip.
struct ListItem {
    std::string text;
    std::string tip;
};

// The status line while a job waits for the receiver.
inline constexpr const char* kWaitingText = "Waiting for the receiver: switch it on or reset it";
// The question before a running transfer is given up.
inline constexpr const char* kStopAndCloseQuestion = "An upgrade is running. Stop it and close?";
// The status line during a transfer: "Sent 1,200 of 2,400 bytes".
std::string BytesSentText(std::uint64_t sent, std::uint64_t total);
// The box of a failed open: the text the engine gave ("UART3 is already
// Opened Or not Exist!", or the reason itself for a port without a COM
// number) with the reason and what to do as its detail.
MessageRequest PortFailureMessage(const std::string& text, const PortOpenFailure& failure);

// What the model asks of the windows, beyond the settings' controls. All
// calls come on the UI thread. Texts are UTF-8.
class IDialogView : public ISettingsControls {
public:
    // Replaces a list's items, in this order, with none selected.
    virtual void SetItems(int id, const std::vector<ListItem>& items) = 0;
    // Shows or hides a control with the label in front of it.
    virtual void ShowControl(int id, bool show) = 0;
    virtual bool HasFocus(int id) = 0;
    // Sizes the window's client area in dialog units; its top left stays.
    virtual void ResizeDialog(int cx, int cy) = 0;
    // The check mark of a system-menu item (IDM_SETTINGS).
    virtual void CheckSysMenuItem(unsigned command, bool checked) = 0;

    // A modal question with Yes and No, No the default; true for Yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // The common open-file dialog; the chosen full path, nothing when cancelled.
    virtual std::optional<std::string> ChooseFile(const std::vector<FileFilter>& filters) = 0;
    // The about box, modal.
    virtual void ShowAbout() = 0;
    // The station window, modal, starting from `choices`.
    virtual void OpenStation(const StationChoices& choices) = 0;
    // Closes every box opened on the dialog's behalf (the dialog is closing).
    virtual void CloseOpenBoxes() = 0;
};

// The view's side of a running job: the queue that carries the worker's
// calls to the UI thread and the bars and box that use it.
struct ViewJobLink {
    CCallQueue& calls;
    IProgressBar& analyseBar;
    IProgressBar& sendBar;
    IMessageBox& messages;
};

// The model hands the engine its own message box and job events: it holds
// back the boxes of a Start until it knows why a port failed, and turns the
// job's phases and bytes into the status line, Start's state and the
// question before closing.
class CUpgradeDlgModel final : private IMessageBox, private IJobEvents {
public:
    // `device` replaces the platform's serial device layer (tests); null for the real one.
    CUpgradeDlgModel(IDialogView& view, ViewJobLink host,
                     std::unique_ptr<IPortDevice> device = nullptr);
    // Ends a running job first.
    ~CUpgradeDlgModel();

    CUpgradeDlgModel(const CUpgradeDlgModel&) = delete;
    CUpgradeDlgModel& operator=(const CUpgradeDlgModel&) = delete;

    // Fills the Port list, then the members into the controls, twice, as the
    // dialog always did. The other lists must hold their items already.
    void OnInitDialog();

    // Dialog data exchange. Saving (true) reads the controls into the members
    // and stops at the first number field whose text is not a number, after a
    // prompt naming it; the members from that field on keep their values.
    // Loading (false) shows the members in the controls. False when a field failed.
    bool UpdateData(bool bSaveAndValidate = true);

    // System-menu commands: 0x0010 to 0x001F open the about box, 0x0020 to
    // 0x002F show or hide the settings area, 0x0030 to 0x003F open the
    // station window with the file and settings chosen here; true when handled.
    bool OnSysCommand(unsigned nID);
    bool SettingsShown() const { return m_settingsShown; }
    // Select File: asks for a file and takes it unless cancelled.
    void OnSelectFile();
    // Takes `fullPath` as if chosen with Select File: the member, the job
    // settings and the file box.
    void TakeFile(const std::string& fullPath);
    // Start (the button and Enter).
    void OnStart();
    // A new selection in the Upgrade Type list; `selectedText` is the newly
    // selected item's text (not the edit field's).
    void OnSelchangeUpgradeType(const std::string& selectedText);
    // The dialog's OK: transfers the controls into the members, stays open.
    void OnOK();

    // Cancel, Escape or the close box: true when the dialog may close. Once
    // the header has gone out and until the data is all sent, the user is
    // asked first; before that (waiting for the receiver) it closes at once.
    bool ConfirmClose();
    // Before the dialog goes (Cancel, Escape, the close box): releases every
    // call of the worker that waits on the UI thread, closes the boxes opened
    // for it, cancels a running job and waits for it. Safe to call twice.
    void EndJob();
    // The dialog is shown (again): accept the worker's calls, unless a job
    // ended by EndJob is still winding down.
    void Reopen();

    // Reads the ports again into the Port list (each time it drops down),
    // keeping the chosen entry; one that has gone stays listed, so that Start
    // says why it cannot be opened instead of opening another port.
    void RefreshPorts();
    // The Port list's entries as last listed.
    const std::vector<PortEntry>& Ports() const { return m_ports; }
    void SetPortSource(PortSource source);

    DialogValues MemberValues() const { return m_values; }
    CUpgradeController& Controller() { return *m_controller; }

    // Members bound to controls (data exchange): the dialog's values, with
    // their defaults, and the file box (1008), written by Select File only.
    DialogValues m_values;
    std::string m_strFilePath;

private:
    // Where the running job stands, as far as closing the dialog cares.
    enum class Stage { Idle, Preparing, Waiting, Sending, Over };

    StartResult StartJob();
    // A channel list whose records cannot be found (CR LF line ends): a box,
    // and no job. True when refused.
    bool RefuseUnreadableList();
    void ToggleSettings();
    // Start greyed and the status line while a job runs; UI thread.
    void ShowJobRunning(bool running);
    void PostStatus(std::string text);

    // IMessageBox: the engine's boxes.
    void Show(const std::string& text, MessageCaption caption) override;
    // IJobEvents, on the worker thread.
    void OnPhase(JobPhase phase) override;
    void OnConversionReport(const ConversionReport& report) override;
    void OnPlan(const TransferPlan& plan) override;
    void OnBytesSent(std::uint64_t sent, std::uint64_t total) override;
    void OnEnded() override;

    IDialogView& m_view;
    CCallQueue& m_calls;
    IMessageBox& m_hostMessages;
    const std::thread::id m_uiThread;
    PortSource m_portSource;
    std::vector<PortEntry> m_ports;
    bool m_settingsShown = false;
    // While Start runs, its boxes wait here (UI thread only).
    bool m_holdMessages = false;
    std::vector<MessageRequest> m_heldMessages;
    std::atomic<Stage> m_stage{Stage::Idle};
    std::atomic<std::uint64_t> m_planLength{0};
    std::unique_ptr<CUpgradeController> m_controller;
};

// The path as the engine opens files: UTF-8 here, the system's code page (or
// the short name where the code page cannot spell it) on Windows.
std::string EnginePath(const std::string& utf8Path);

}  // namespace velmora::ui
