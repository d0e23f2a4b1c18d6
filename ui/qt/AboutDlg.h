// CAboutDlg: the about box, opened from the about item of the main dialog.
#pragma once

#include <QDialog>

#include "ui/qt/QtTemplate.h"

namespace velmora::ui {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    DialogBaseUnits BaseUnits() const { return m_units; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    DialogBaseUnits m_units;
};

}  // namespace velmora::ui
