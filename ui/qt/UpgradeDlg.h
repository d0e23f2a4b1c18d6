// CUpgradeDlg: the main window on Qt, a view over CUpgradeDlgModel. It builds
// its widgets from the main dialog's template and forwards the user's
// commands to the model, which holds the members and the job.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "transfer/UpgradeController.h"
#include "ui/DialogModel.h"
#include "ui/qt/ModalBoxes.h"
#include "ui/qt/QtJobBridge.h"
#include "ui/qt/QtTemplate.h"

class QComboBox;
class QLineEdit;
class QProgressBar;

namespace velmora::ui {

class CUpgradeDlg : public QDialog, private IDialogView {
    Q_OBJECT
public:
    // `device` replaces the platform's serial device layer (tests); null for the real one.
    explicit CUpgradeDlg(QWidget* parent = nullptr, std::unique_ptr<IPortDevice> device = nullptr);
    // Cancels a running job and waits for it; the port is closed afterwards.
    ~CUpgradeDlg() override;

    CUpgradeDlgModel& Model() { return *m_model; }

    // The model's commands, as the widgets and the tests reach them.
    bool UpdateData(bool bSaveAndValidate = true) { return m_model->UpdateData(bSaveAndValidate); }
    bool OnSysCommand(unsigned nID, std::intptr_t /*lParam*/) { return m_model->OnSysCommand(nID); }
    void OnSelectFile() { m_model->OnSelectFile(); }
    void OnStart() { m_model->OnStart(); }
    // A new selection in the Upgrade Type list.
    void OnSelchangeUpgradeType(int index);
    // Takes `path` as if the user had chosen it with Select File. Used for
    // the command line and drops; a relative path is made absolute.
    void TakeFile(const QString& path);
    DialogValues MemberValues() const { return m_model->MemberValues(); }
    CUpgradeController& Controller() { return m_model->Controller(); }
    void EndJob() { m_model->EndJob(); }

    CUiProgressBar& AnalyseBar() { return *m_analyseBar; }
    CUiProgressBar& SendBar() { return *m_sendBar; }
    // The base units that placed the controls.
    DialogBaseUnits BaseUnits() const { return m_units; }

public slots:
    // The dialog's OK: transfers the controls into the members and stays open.
    void accept() override;
    // Cancel, Escape and the close box; a running transfer asks first.
    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    QWidget* CreateControl(const ControlTemplate& control);

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

    QWidget* Widget(int id) const;
    QComboBox* Combo(int id) const;
    QLineEdit* Edit(int id) const;

    DialogBaseUnits m_units;
    QIcon m_hIcon;
    bool m_initialised = false;
    CModalBoxes m_boxes{*this};

    QProgressBar* m_ctrlAnalyseProgress = nullptr;  // 1011
    QProgressBar* m_ctrlSendProgress = nullptr;     // 1010

    CUiCallQueue* m_calls = nullptr;
    CUiProgressBar* m_analyseBar = nullptr;
    CUiProgressBar* m_sendBar = nullptr;
    std::unique_ptr<CUiMessageBox> m_messages;
    std::unique_ptr<CUpgradeDlgModel> m_model;
};

}  // namespace velmora::ui
