#include "gui/platform/form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleFactory>

void placeTwips(QWidget *control, Twips at)
{
    control->setGeometry(twips(at.left), twips(at.top), twips(at.width), twips(at.height));
}

QFrame *placeLine(QWidget *parent, const char *name, int x1, int x2, int y, int thickness, const QColor &colour)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QString::fromLatin1(name));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(thickness);
    // The whole strip is the line's colour, whatever the style draws in it.
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, colour);
    line->setPalette(palette);
    line->setAutoFillBackground(true);
    line->setGeometry(twips(x1), twips(y), twips(x2) - twips(x1) + 1, thickness);
    return line;
}

namespace {

bool captionFits(const QWidget *control, const QFont &font)
{
    const QFontMetrics metrics(font, control);
    if (const auto *button = qobject_cast<const QAbstractButton *>(control)) {
        // The caption and the style's margin and frame around it; the
        // style's minimum button width does not count.
        QStyleOptionButton option;
        option.initFrom(button);
        const QStyle *style = button->style();
        QString shown = button->text(); // "&" marks the access key and is not drawn; "&&" is one "&"
        shown.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove(u'&').replace(u'\x01', u'&');
        const int needed = metrics.horizontalAdvance(shown)
                           + style->pixelMetric(QStyle::PM_ButtonMargin, &option, button)
                           + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button);
        return needed <= button->width();
    }
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        if (!label->wordWrap())
            return metrics.horizontalAdvance(label->text()) <= label->width();
        const QRect needed =
            metrics.boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap, label->text());
        return needed.width() <= label->width() && needed.height() <= label->height();
    }
    return true;
}

} // namespace

void fitCaption(QWidget *control)
{
    QFont font = control->font();
    for (const auto stretch : {QFont::SemiCondensed, QFont::Condensed}) {
        if (captionFits(control, font))
            break;
        font.setStretch(stretch);
    }
    while (!captionFits(control, font) && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    if (font != control->font())
        control->setFont(font);
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

void centreOver(QWidget *window, const QWidget *anchor)
{
    if (!window->testAttribute(Qt::WA_Resized))
        window->adjustSize(); // the size it will be shown at
    // A window not yet shown has no frame; the desktop will give it one as
    // wide as the anchor's.
    const QRect over = anchor->frameGeometry();
    const QSize frame = over.size() - anchor->size();
    QRect placed(QPoint(), window->size() + frame);
    placed.moveCenter(over.center());
    if (const QScreen *screen = anchor->screen()) {
        const QRect room = screen->availableGeometry();
        placed.moveLeft(qBound(room.left(), placed.left(), qMax(room.left(), room.right() - placed.width() + 1)));
        placed.moveTop(qBound(room.top(), placed.top(), qMax(room.top(), room.bottom() - placed.height() + 1)));
    }
    window->move(placed.topLeft());
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

void Form::discard()
{
    m_discarding = true;
    close();
}

void Form::closeEvent(QCloseEvent *event)
{
    if (!m_discarding)
        onUnload();
    event->accept();
}
