#include "platform/windows/input_block.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

InputBlock::InputBlock(QWidget *allowed) : m_allowed(allowed)
{
    qApp->installEventFilter(this);
}

InputBlock::~InputBlock()
{
    qApp->removeEventFilter(this);
}

bool InputBlock::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::Drop:
    case QEvent::InputMethod:
        break;
    case QEvent::Close:
        if (!event->spontaneous())
            return false;
        break;
    default:
        return false;
    }
    // Shortcuts go to actions, which belong to no window: only the allowed
    // window's own widgets get through.
    const auto *widget = qobject_cast<QWidget *>(watched);
    if (widget && m_allowed && (widget == m_allowed || m_allowed->isAncestorOf(widget)))
        return false;
    return true;
}
