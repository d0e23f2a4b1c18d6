#include "ui/DialogModel.h"

#include <algorithm>
#include <utility>

#include "base/TextFormat.h"
#include "sdx/ListFormat.h"
#include "sdx/ServiceReport.h"
#include "serial/SerialPort.h"
#include "transfer/JobChecks.h"
#include "ui/DialogTemplates.h"
#include "ui/StationModel.h"

namespace velmora::ui {

const std::vector<FileFilter>& SelectFileFilters() {
    static const std::vector<FileFilter> filters = {
        {"BIN File(*.bin)", "*.bin"},
        {"Channel list (*.sdx)", "*.sdx"},
        {"Enigma2 or VDR list (lamedb lamedb5 *.conf)", "lamedb;lamedb5;*.conf"},
        {"All files (*.*)", "*.*"}};
    return filters;
}

std::vector<PortEntry> StandardPorts() {
    std::vector<PortEntry> ports;
    for (const std::string& name : MainDialogTemplate().Find(IDC_PORT)->items) {
        ports.push_back({name, ResolvePortName(name.back() - '0'), std::string()});
    }
    return ports;
}

std::vector<PortEntry> PortEntries(const std::vector<SerialPortInfo>& detected) {
    std::vector<PortEntry> ports = StandardPorts();
    for (const SerialPortInfo& info : detected) {
        const std::string label = info.Label();
        const bool listed = std::any_of(ports.begin(), ports.end(), [&](const PortEntry& entry) {
            return entry.name == label;
        });
        if (!listed) {
            ports.push_back({label, info.byIdPath.empty() ? info.name : info.byIdPath, info.name});
        }
    }
    return ports;
}

std::string BytesSentText(std::uint64_t sent, std::uint64_t total) {
    return "Sent " + GroupedDigits(sent) + " of " + GroupedDigits(total) + " bytes";
}

MessageRequest PortFailureMessage(const std::string& text, const PortOpenFailure& failure) {
    if (failure.kind == PortFailureKind::None) {
        return {text, MessageCaption::Application, {}};
    }
    // In the dialog the remedy for a missing port is at hand: the list shows
    // the ports present.
    const std::string remedy = failure.kind == PortFailureKind::Missing
                                   ? "Plug the adapter in, or choose it in the Port list."
                                   : failure.remedy;
    if (text == failure.Text()) {
        // A device without a COM number: the engine's text is the reason.
        return {failure.reason, MessageCaption::Application, remedy};
    }
    return {text, MessageCaption::Application,
            remedy.empty() ? failure.reason : failure.reason + " " + remedy};
}

CUpgradeDlgModel::CUpgradeDlgModel(IDialogView& view, ViewJobLink host,
                                   std::unique_ptr<IPortDevice> device)
    : m_view(view),
      m_calls(host.calls),
      m_hostMessages(host.messages),
      m_uiThread(std::this_thread::get_id()),
      m_portSource([] { return PortEntries(ListSerialPorts()); }),
      m_controller(std::make_unique<CUpgradeController>(
          host.analyseBar, host.sendBar, static_cast<IMessageBox&>(*this), std::move(device))) {
    m_controller->SetEvents(this);
}

CUpgradeDlgModel::~CUpgradeDlgModel() {
    // The view is going too: only the job is ended here.
    m_calls.Shutdown();
    if (m_controller->IsBusy()) {
        m_controller->Cancel();
    }
    m_controller->Wait();
}

void CUpgradeDlgModel::OnInitDialog() {
    RefreshPorts();
    UpdateData(false);
    UpdateData(false);
}

bool CUpgradeDlgModel::UpdateData(bool bSaveAndValidate) {
    const bool save = bSaveAndValidate;
    if (save) {
        // The file box is read, never written here: a path reaches it only
        // through Select File.
        m_strFilePath = m_view.ControlText(IDC_FILEPATH);
    }
    ExchangeList(m_view, save, IDC_PORT, m_values.strPort);
    return ExchangeSettings(m_view, save, m_values);
}

bool CUpgradeDlgModel::OnSysCommand(unsigned nID) {
    if ((nID & 0xFFF0U) == IDM_ABOUTBOX) {
        m_view.ShowAbout();
        return true;
    }
    if ((nID & 0xFFF0U) == IDM_SETTINGS) {
        ToggleSettings();
        return true;
    }
    if ((nID & 0xFFF0U) == IDM_STATION) {
        if (UpdateData(true)) {
            StationChoices choices;
            choices.file = m_strFilePath;
            choices.values = m_values;
            m_view.OpenStation(choices);
        }
        return true;
    }
    return false;
}

void CUpgradeDlgModel::ToggleSettings() {
    m_settingsShown = !m_settingsShown;
    const std::vector<int> area = SettingsAreaControls();
    if (!m_settingsShown) {
        // The focus must not stay behind on a hidden control.
        const bool focusInArea =
            std::any_of(area.begin(), area.end(), [this](int id) { return m_view.HasFocus(id); });
        if (focusInArea) {
            m_view.FocusControl(m_controller->IsBusy() ? IDC_FILEPATH : ID_OK);
        }
    }
    const DialogTemplate& dlg = MainDialogTemplate();
    if (m_settingsShown) {
        m_view.ResizeDialog(dlg.cx, dlg.cySettings);  // grows downward first
    }
    for (const int id : area) {
        m_view.ShowControl(id, m_settingsShown);
    }
    if (!m_settingsShown) {
        m_view.ResizeDialog(dlg.cx, dlg.cy);
    }
    m_view.CheckSysMenuItem(IDM_SETTINGS, m_settingsShown);
}

void CUpgradeDlgModel::OnSelectFile() {
    const std::optional<std::string> chosen = m_view.ChooseFile(SelectFileFilters());
    if (chosen) {
        TakeFile(*chosen);
    }
}

void CUpgradeDlgModel::TakeFile(const std::string& fullPath) {
    if (fullPath.empty()) {
        return;
    }
    m_strFilePath = fullPath;
    // A running job has its own copy of the settings: this affects the next job only.
    m_controller->Settings().strFilePath = EnginePath(fullPath);
    m_view.SetControlText(IDC_FILEPATH, fullPath);
}

void CUpgradeDlgModel::OnStart() {
    Reopen();
    if (RefuseUnreadableList()) {
        return;
    }
    if (StartJob() == StartResult::Started) {
        ShowJobRunning(true);
    }
}

bool CUpgradeDlgModel::RefuseUnreadableList() {
    const std::string path = EnginePath(m_strFilePath);
    if (m_controller->IsBusy() || !IsChannelList(path)) {
        return false;
    }
    const std::optional<JobCheck> check = CheckListLineLength(path);
    if (check) {
        m_view.ShowMessage({check->Message(), MessageCaption::Application, {}});
    }
    return check.has_value();
}

StartResult CUpgradeDlgModel::StartJob() {
    m_holdMessages = true;
    const StartResult result = m_controller->Start(EnginePath(m_strFilePath), [this] {
        UpdateData(true);
        // The device of the chosen entry, where it names one.
        std::string device;
        for (const PortEntry& entry : m_ports) {
            if (entry.name == m_values.strPort) {
                device = entry.device;
                break;
            }
        }
        m_controller->SetDeviceOverride(device);
        return MemberValues();
    });
    m_holdMessages = false;
    for (MessageRequest& message : std::exchange(m_heldMessages, {})) {
        if (result == StartResult::PortFailed) {
            message = PortFailureMessage(message.text, m_controller->LastPortFailure());
        }
        m_view.ShowMessage(message);
    }
    return result;
}

void CUpgradeDlgModel::ShowJobRunning(bool running) {
    if (running && m_view.HasFocus(ID_OK)) {
        // A disabled button keeps no focus; the file box is a safe place for
        // it: Enter there is Start, and Start is ignored while the job runs.
        m_view.FocusControl(IDC_FILEPATH);
    }
    m_view.EnableControl(ID_OK, !running);
    if (!running) {
        m_view.SetControlText(IDC_STATUS, std::string());
    }
}

void CUpgradeDlgModel::PostStatus(std::string text) {
    // In order: the job's end, posted last, clears the line.
    m_calls.Post([this, text = std::move(text)] { m_view.SetControlText(IDC_STATUS, text); });
}

void CUpgradeDlgModel::Show(const std::string& text, MessageCaption caption) {
    // Start's own boxes are held until Start has returned (UI thread only).
    if (std::this_thread::get_id() == m_uiThread && m_holdMessages) {
        m_heldMessages.push_back({text, caption, {}});
        return;
    }
    // A box during the transfer is its end: the completion or the failure.
    Stage sending = Stage::Sending;
    m_stage.compare_exchange_strong(sending, Stage::Over);
    m_hostMessages.Show(text, caption);
}

void CUpgradeDlgModel::OnPhase(JobPhase phase) {
    switch (phase) {
        case JobPhase::Converting:
            m_stage.store(Stage::Preparing);
            break;
        case JobPhase::WaitingForReceiver:
            m_stage.store(Stage::Waiting);
            PostStatus(kWaitingText);
            break;
        case JobPhase::Sending:
            m_stage.store(Stage::Sending);
            PostStatus(BytesSentText(0, m_planLength.load()));
            break;
    }
}

void CUpgradeDlgModel::OnConversionReport(const ConversionReport& report) {
    // An Enigma2 or VDR list has services left out by design (another
    // satellite's, cable ones, those listed twice): the box says which, and
    // what the receiver gets, before the job goes on.
    if (const std::string text = ListReportText(report); !text.empty()) {
        Show(text, MessageCaption::Application);
    }
}

void CUpgradeDlgModel::OnPlan(const TransferPlan& plan) {
    m_planLength.store(plan.length);
}

void CUpgradeDlgModel::OnBytesSent(std::uint64_t sent, std::uint64_t total) {
    if (sent >= total) {
        m_stage.store(Stage::Over);
    }
    PostStatus(BytesSentText(sent, total));
}

void CUpgradeDlgModel::OnEnded() {
    m_stage.store(Stage::Idle);
    m_calls.Post([this] {
        if (!m_controller->IsBusy()) {
            ShowJobRunning(false);
        }
    });
}

bool CUpgradeDlgModel::ConfirmClose() {
    if (!m_controller->IsBusy() || m_stage.load() != Stage::Sending) {
        return true;
    }
    return m_view.AskYesNo(kStopAndCloseQuestion);
}

void CUpgradeDlgModel::OnSelchangeUpgradeType(const std::string& selectedText) {
    UpdateData(true);
    EnableTypeFields(m_view, selectedText);
}

void CUpgradeDlgModel::OnOK() {
    UpdateData(true);
}

void CUpgradeDlgModel::EndJob() {
    m_calls.Shutdown();
    m_view.CloseOpenBoxes();
    // Cancelling also refuses jobs started later, so only a running job is
    // cancelled: a dialog closed while idle can be shown and used again.
    if (m_controller->IsBusy()) {
        m_controller->Cancel();
    }
    m_controller->Wait();
}

void CUpgradeDlgModel::Reopen() {
    if (m_calls.IsShutDown() && !m_controller->IsBusy()) {
        m_calls.Reopen();
        // The news of a job ended while the dialog was closed was dropped.
        ShowJobRunning(false);
    }
}

void CUpgradeDlgModel::RefreshPorts() {
    const std::string chosen = m_view.ControlText(IDC_PORT);
    std::vector<PortEntry> ports = m_portSource ? m_portSource() : StandardPorts();
    auto named = [&chosen](const PortEntry& entry) { return entry.name == chosen; };
    if (!chosen.empty() && std::none_of(ports.begin(), ports.end(), named)) {
        const auto gone = std::find_if(m_ports.begin(), m_ports.end(), named);
        if (gone != m_ports.end()) {
            ports.push_back(*gone);
        }
    }
    m_ports = std::move(ports);
    std::vector<ListItem> items;
    int selected = -1;
    for (const PortEntry& entry : m_ports) {
        if (entry.name == chosen) {
            selected = static_cast<int>(items.size());
        }
        items.push_back({entry.name, entry.name + ": " + entry.description});
    }
    m_view.SetItems(IDC_PORT, items);
    if (selected >= 0) {
        m_view.SelectItem(IDC_PORT, selected);
    }
}

void CUpgradeDlgModel::SetPortSource(PortSource source) {
    m_portSource = std::move(source);
}

}  // namespace velmora::ui
