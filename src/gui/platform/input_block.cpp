#include "gui/platform/input_block.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

InputBlock::InputBlock(QWidget *allowed) : m_allowed(allowed)
{
    qApp->installEventFilter(this);
}

InputBlock::~InputBlock()
{
    qApp->removeEventFilter(this);
}

// Input reaches a window's QWindow first, which hands it to its widgets;
// both are let through for the allowed window alone.
bool InputBlock::isAllowed(const QObject *target) const
{
    if (!m_allowed)
        return false;
    if (target->isWidgetType()) {
        const auto *widget = static_cast<const QWidget *>(target);
        return widget == m_allowed || m_allowed->isAncestorOf(widget);
    }
    return target == m_allowed->windowHandle();
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
        // Shortcuts go to actions, which belong to no window: only the
        // allowed window and its own widgets get through.
        return !isAllowed(watched);
    case QEvent::Close:
        // A top-level widget's close() goes through its QWindow, which gets
        // the window system's close event either way; only the widget is
        // told the two apart (the window system's is spontaneous). So every
        // close passes the QWindow, and the widget refuses the window
        // system's: ignored, as a dropped event would count as accepted.
        if (!watched->isWidgetType() || !event->spontaneous() || isAllowed(watched))
            return false;
        event->ignore();
        return true;
    default:
        return false;
    }
}
