// CUpgradeDlg: the main window. A banner, the file to send with Select File,
// the port, Start and Cancel, and the two progress bars. The line parameters,
// upgrade type, flash offset, model, project, database limits and LNB
// frequencies are hidden controls holding the defaults that Start reads.
//
// Members and controls are kept apart as in a classic dialog: UpdateData(true)
// copies the controls into the m_ members, UpdateData(false) the other way.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>

#include "transfer/UpgradeController.h"
#include "ui/DialogTemplate.h"
#include "ui/UiJobHost.h"

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace velmora::ui {

class CUpgradeDlg : public QDialog {
    Q_OBJECT
public:
    // `device` replaces the platform's serial device layer (tests); null for the real one.
    explicit CUpgradeDlg(QWidget* parent = nullptr, std::unique_ptr<IPortDevice> device = nullptr);
    // Cancels a running job and waits for it; the port is closed afterwards.
    ~CUpgradeDlg() override;

    // Dialog data exchange. Saving (true) reads the controls into the members
    // and stops at the first number field whose text is not a number, after a
    // prompt naming it; the members from that field on keep their values.
    // Loading (false) shows the members in the controls. False when a field failed.
    bool UpdateData(bool bSaveAndValidate = true);

    // System-menu commands. 0x0010 to 0x001F open the about box; true when handled.
    bool OnSysCommand(unsigned nID, std::intptr_t lParam);
    // The Select File button: asks for a file and takes it unless cancelled.
    void OnSelectFile();
    // The Start button (and Enter).
    void OnStart();
    // A new selection in the Upgrade Type list.
    void OnSelchangeUpgradeType(int index);

    // Takes `path` as if the user had chosen it with Select File: the member,
    // the job settings and the file box. Used for the command line and drops.
    void TakeFile(const QString& path);

    // The members as the engine's dialog values.
    DialogValues MemberValues() const;

    CUpgradeController& Controller() { return *m_controller; }
    CUiProgressBar& AnalyseBar() { return *m_analyseBar; }
    CUiProgressBar& SendBar() { return *m_sendBar; }
    // The base units that placed the controls.
    DialogBaseUnits BaseUnits() const { return m_units; }

    // Ends the job, if any, before the dialog goes: releases every call of the
    // worker that waits on the UI thread, closes the boxes opened for it,
    // cancels the job and waits for it. Safe to call more than once.
    void EndJob();

    // Members bound to controls (data exchange).
    QString m_strBaudRate;      // 1004
    QString m_strDataBits;      // 1006
    QString m_strFilePath;      // 1008, written by Select File only
    QString m_strParity;        // 1005
    QString m_strPort;          // 1003
    QString m_strStopBits;      // 1007
    QString m_strUpgradeType;   // 1012
    QString m_strOffset;        // 1013
    QString m_strModelNo;       // 1014
    QString m_strProjectName;   // 1015
    std::int32_t m_nMaxTv;      // 1019
    std::int32_t m_nMaxTp;      // 1017
    std::int32_t m_nMaxRadio;   // 1020
    std::int32_t m_lDbSize;     // 1018
    std::int32_t m_nLnbCHigh;   // 1021
    std::int32_t m_nLnbCLow;    // 1022
    std::int32_t m_nLnbKuHigh;  // 1023
    std::int32_t m_nLnbKuLow;   // 1024
    std::int32_t m_nMaxSat;     // 1016

public slots:
    // The dialog's OK: transfers the controls into the members and stays open.
    void accept() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void CreateControls();
    void OnInitDialog();
    // Shows a modal box with an OK button; returns when it is closed.
    void ShowMessage(const QString& text, const QString& caption);
    // Runs a dialog opened on behalf of this one modally, closing it if the
    // dialog is closed meanwhile. False when this dialog went away during it.
    int RunModal(QDialog& box);

    QComboBox* Combo(int id) const;
    QLineEdit* Edit(int id) const;

    DialogBaseUnits m_units;
    QIcon m_hIcon;
    bool m_initialised = false;
    QList<QPointer<QDialog>> m_openBoxes;

    QProgressBar* m_ctrlAnalyseProgress = nullptr;  // 1011
    QProgressBar* m_ctrlSendProgress = nullptr;     // 1010

    CUiCallQueue* m_calls = nullptr;
    CUiProgressBar* m_analyseBar = nullptr;
    CUiProgressBar* m_sendBar = nullptr;
    std::unique_ptr<CUiMessageBox> m_messages;
    std::unique_ptr<CUpgradeController> m_controller;
};

}  // namespace velmora::ui
