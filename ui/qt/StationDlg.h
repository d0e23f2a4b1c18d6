// CStationDlg: the station window on Qt, a view over CStationModel. It builds
// its widgets from the station template, draws the model's tiles, ticks the
// model every CStationModel::kTick and forwards the user's commands to it.
#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <vector>

#include "ui/StationModel.h"
#include "ui/qt/ModalBoxes.h"
#include "ui/qt/QtJobBridge.h"
#include "ui/qt/QtTemplate.h"

class QListWidget;

namespace velmora::ui {

// The tiles, one per port, drawn from the model's StationTile.
class CTileArea final : public QWidget {
    Q_OBJECT
public:
    explicit CTileArea(QWidget* parent);
    void SetTiles(const std::vector<StationTile>& tiles, const std::vector<std::size_t>& changed);
    const std::vector<StationTile>& Tiles() const { return m_tiles; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<TileRect> Layout() const;
    void PaintTile(QPainter& painter, const StationTile& tile, const QRect& place) const;

    std::vector<StationTile> m_tiles;
};

class CStationDlg : public QDialog, private IStationView {
    Q_OBJECT
public:
    explicit CStationDlg(StationChoices choices, QWidget* parent = nullptr,
                         StationServices services = {});
    // Stops a run and waits for its ports to close.
    ~CStationDlg() override;

    CStationModel& Model() { return *m_model; }
    CTileArea& TileArea() { return *m_tileArea; }
    // Start as soon as the window is shown (velmora --station ... --start).
    void StartWhenShown() { m_startWhenShown = true; }

public slots:
    // Enter is Start, the default button; nothing else takes it.
    void accept() override {}
    // Close, Escape and the close box; a running transfer asks first.
    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    QListWidget* Ports() const;

    // IStationView
    std::string ControlText(int id) override;
    void SetControlText(int id, const std::string& text) override;
    int ItemCount(int id) override;
    std::string ItemText(int id, int index) override;
    void SelectItem(int id, int index) override;
    void EnableControl(int id, bool enable) override;
    void FocusControl(int id) override;
    void ShowMessage(const MessageRequest& message) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void SetPortItems(const std::vector<StationPortItem>& items) override;
    std::vector<bool> PortChecks() override;
    void ShowTiles(const std::vector<StationTile>& tiles,
                   const std::vector<std::size_t>& changed) override;
    bool AskYesNo(const std::string& question) override;
    std::optional<std::string> ChooseFile(const std::vector<FileFilter>& filters) override;
    std::optional<std::string> ChooseLogFile(const std::string& current) override;
    void PlaySound(StationSound sound) override;

    DialogBaseUnits m_units;
    bool m_shown = false;
    bool m_startWhenShown = false;
    CModalBoxes m_boxes{*this};
    CTileArea* m_tileArea = nullptr;
    CUiCallQueue* m_calls = nullptr;
    QTimer m_timer;
    std::unique_ptr<CStationModel> m_model;
};

}  // namespace velmora::ui
