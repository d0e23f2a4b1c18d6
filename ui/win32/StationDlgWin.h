// CStationDlgWin: the station window as a native Win32 dialog, a view over
// CStationModel. The window comes from the station template, built in memory
// like the main dialog's; the tiles are drawn by a window class of its own.
// A timer ticks the model every CStationModel::kTick; the station's news
// reaches the UI thread through the model's call queue, woken by a posted
// window message.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/StationModel.h"
#include "ui/Win32Api.h"
#include "ui/win32/DialogWindowWin.h"

namespace velmora::ui {

class CStationDlgWin final : private CDialogWindowWin<IStationView> {
public:
    CStationDlgWin(HINSTANCE instance, StationChoices choices);
    ~CStationDlgWin() override;

    CStationDlgWin(const CStationDlgWin&) = delete;
    CStationDlgWin& operator=(const CStationDlgWin&) = delete;

    // Start as soon as the window is shown (velmora.exe --station ... --start).
    void StartWhenShown() { m_startWhenShown = true; }
    // Runs the window modally over `owner` (none: on its own); returns once
    // it has closed and every port of a run has closed.
    INT_PTR DoModal(HWND owner);

private:
    static LRESULT CALLBACK TilesProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnInitDialog() override;
    void OnCommand(int id, int code);
    void Close();
    void PaintTiles(HWND tiles);
    void PaintTile(HDC dc, const StationTile& tile, const RECT& place);
    void DrawLine(HDC dc, const std::string& text, bool bold, RECT& box, int lines);
    std::vector<TileRect> TileLayout() const;

    // IStationView
    void EnableControl(int id, bool enable) override;
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

    HINSTANCE m_instance;
    StationChoices m_choices;
    bool m_startWhenShown = false;
    HFONT m_boldFont = nullptr;
    std::vector<StationTile> m_tiles;
    std::unique_ptr<CCallQueue> m_calls;
    std::unique_ptr<CStationModel> m_model;
};

}  // namespace velmora::ui
