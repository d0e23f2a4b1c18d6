// The modal boxes a Qt window opens on its own behalf (messages, questions,
// the file dialog, windows over it), run so that they close with the window.
#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

#include "ui/DialogTemplates.h"
#include "ui/SettingsExchange.h"

namespace velmora::ui {

class CModalBoxes {
public:
    explicit CModalBoxes(QWidget& owner) : m_owner(&owner) {}

    // Runs `box` modally and returns its result; CloseAll() ends it early.
    int Run(QDialog& box);
    // Rejects every box still open (the window is closing).
    void CloseAll();

    // A box with an OK button, the detail under the message.
    void Message(const MessageRequest& message);
    // Yes and No, No the default (Escape too); true for Yes.
    bool YesNo(const std::string& question);
    // The open-file dialog: the chosen full path, nothing when cancelled. Any
    // name may be typed, whatever the filter shows.
    std::optional<std::string> OpenFile(const std::vector<FileFilter>& filters);

private:
    QPointer<QWidget> m_owner;
    QList<QPointer<QDialog>> m_open;
};

}  // namespace velmora::ui
