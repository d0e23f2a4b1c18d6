#include "ui/qt/ModalBoxes.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "ui/qt/QtJobBridge.h"
#include "ui/qt/QtTemplate.h"

namespace velmora::ui {

int CModalBoxes::Run(QDialog& box) {
    // The window, and this with it, may go while the box is open.
    const QPointer<QWidget> owner = m_owner;
    m_open.append(&box);
    const int result = box.exec();
    if (owner) {
        m_open.removeAll(QPointer<QDialog>(&box));
        m_open.removeAll(QPointer<QDialog>());
    }
    return result;
}

void CModalBoxes::CloseAll() {
    // Copied: rejecting a box may change the list.
    const QList<QPointer<QDialog>> boxes = m_open;
    for (const QPointer<QDialog>& box : boxes) {
        if (QDialog* open = box.data(); open != nullptr) {
            open->reject();
        }
    }
}

void CModalBoxes::Message(const MessageRequest& message) {
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Warning, CaptionText(message.caption),
                                                ToQt(message.text), QMessageBox::Ok, m_owner);
    if (!message.detail.empty()) {
        box->setInformativeText(ToQt(message.detail));
    }
    Run(*box);
    delete box.data();
}

bool CModalBoxes::YesNo(const std::string& question) {
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Question, CaptionText(MessageCaption::Application),
                        ToQt(question), QMessageBox::Yes | QMessageBox::No, m_owner);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    const bool yes = Run(*box) == QMessageBox::Yes;
    delete box.data();
    return yes;
}

std::optional<std::string> CModalBoxes::OpenFile(const std::vector<FileFilter>& filters) {
    QPointer<QFileDialog> chooser =
        new QFileDialog(m_owner, QString(), QString(), FilterText(filters));
    chooser->setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be typed, a channel list (.sdx) among them, even though the
    // filter shows only images.
    chooser->setFileMode(QFileDialog::AnyFile);
    const int result = Run(*chooser);
    std::optional<std::string> chosen;
    if (chooser && result == QDialog::Accepted && !chooser->selectedFiles().isEmpty()) {
        chosen = QFileInfo(chooser->selectedFiles().constFirst()).absoluteFilePath().toStdString();
    }
    delete chooser.data();
    return chosen;
}

}  // namespace velmora::ui
