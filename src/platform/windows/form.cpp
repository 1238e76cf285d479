#include "platform/windows/form.h"

#include <QApplication>
#include <QAbstractButton>
#include <QCloseEvent>
#include <QFrame>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleFactory>

void placeTwips(QWidget *control, int left, int top, int width, int height)
{
    control->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

void placeLine(QWidget *form, int x1, int x2, int y)
{
    auto *line = new QFrame(form);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(twips(x1), twips(y) - 1, twips(x2) - twips(x1), 2);
}

void applyToolkitLook()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return; // no widgets in this process
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font = QApplication::font();
    font.setPointSizeF(8);
    QApplication::setFont(font);
}

Form::Form(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
}

void Form::setFixedBorder(bool minimizeButton)
{
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                            | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                            | Qt::MSWindowsFixedSizeDialogHint;
    if (minimizeButton)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
}

void Form::setFixedClientTwips(int width, int height, bool minimizeButton)
{
    setFixedBorder(minimizeButton);
    setFixedSize(twips(width), twips(height));
}

void Form::fitCaptions()
{
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const int needed = button->style()
                               ->sizeFromContents(QStyle::CT_PushButton, &option,
                                                  QSize(button->fontMetrics().horizontalAdvance(button->text()), 0), button)
                               .width();
        if (needed <= button->width())
            continue;
        QFont font = button->font();
        font.setStretch(QFont::SemiCondensed);
        button->setFont(font);
    }
}

void Form::Discard()
{
    m_discarding = true;
    close();
}

void Form::closeEvent(QCloseEvent *event)
{
    if (!m_discarding)
        Form_Unload();
    event->accept();
}
