#include "ui/qt/QtJobBridge.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>

#include <utility>

namespace velmora::ui {

CUiCallQueue::CUiCallQueue(QObject* parent)
    : QObject(parent),
      // Only a wake-up crosses threads through Qt; the calls themselves travel
      // through the queue under its lock.
      m_core([this] { QMetaObject::invokeMethod(this, "RunPending", Qt::QueuedConnection); }) {}

CUiProgressBar::CUiProgressBar(CUiCallQueue& queue, QProgressBar& bar, QObject* parent)
    : QObject(parent), m_queue(queue), m_bar(&bar) {}

void CUiProgressBar::SetRange(int lower, int upper) {
    m_queue.Run([this, lower, upper] {
        if (m_bar) {
            m_bar->setRange(lower, upper);
            emit RangeShown(lower, upper);
        }
    });
}

void CUiProgressBar::SetPos(int pos) {
    m_queue.Run([this, pos] {
        if (m_bar) {
            m_bar->setValue(pos);
            emit PositionShown(pos);
        }
    });
}

CUiMessageBox::CUiMessageBox(CUiCallQueue& queue, Presenter present)
    : m_queue(queue), m_present(std::move(present)) {}

void CUiMessageBox::Show(const std::string& text, MessageCaption caption) {
    m_queue.Run([this, message = QString::fromStdString(text), caption] {
        m_present(message, CaptionText(caption));
    });
}

QString CaptionText(MessageCaption caption) {
    if (caption == MessageCaption::Prompt) {
        return QString::fromUtf8(kPromptCaption.data(),
                                 static_cast<qsizetype>(kPromptCaption.size()));
    }
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

}  // namespace velmora::ui
