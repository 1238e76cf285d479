#include "dialogs/add_dir.h"

#include "dialogs/control_panel.h"
#include "platform/windows/dir_list_box.h"

#include <QLabel>
#include <QPushButton>

namespace {

// The note must be read whole: where the desktop's font is wider than the
// design's, it is drawn narrower, then smaller, until it fits its box.
void fitWrapped(QLabel *label)
{
    auto fits = [label](const QFont &font) {
        const QRect needed = QFontMetrics(font).boundingRect(QRect(0, 0, label->width(), 10000),
                                                             Qt::TextWordWrap, label->text());
        return needed.width() <= label->width() && needed.height() <= label->height();
    };
    QFont font = label->font();
    for (const auto stretch : {QFont::SemiCondensed, QFont::Condensed}) {
        if (fits(font))
            break;
        font.setStretch(stretch);
    }
    while (!fits(font) && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}

} // namespace

AddDir::AddDir(const Host &host, ControlPanel &panel) : m_host(host), m_panel(panel)
{
    buildWindow();
}

void AddDir::buildWindow()
{
    setObjectName(QStringLiteral("AddDir"));
    setWindowTitle(QStringLiteral("Add Directory"));
    setFixedClientTwips(5955, 2940, false);

    auto named = [](QWidget *control, const char *name) {
        control->setObjectName(QString::fromLatin1(name));
    };

    Label1 = new QLabel(QStringLiteral("Directory To Add:"), this);
    named(Label1, "Label1");
    placeTwips(Label1, 120, 120, 2535, 255);
    Dir1 = new DirListBox(m_host.drives, this);
    named(Dir1, "Dir1");
    placeTwips(Dir1, 120, 360, 4455, 2115);
    Command1 = new QPushButton(QStringLiteral("Add Directory"), this);
    named(Command1, "Command1");
    placeTwips(Command1, 3360, 2520, 1215, 375);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    named(Command2, "Command2");
    placeTwips(Command2, 120, 2520, 1215, 375);
    Label2 = new QLabel(QStringLiteral("Note: You must manually add subfolders to backup"), this);
    named(Label2, "Label2");
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(Label2, 1440, 2520, 1815, 375);
    Command3 = new QPushButton(QStringLiteral("C:\\"), this);
    named(Command3, "Command3");
    placeTwips(Command3, 4680, 120, 1215, 375);
    Command4 = new QPushButton(QStringLiteral("My Documents"), this);
    named(Command4, "Command4");
    placeTwips(Command4, 4680, 600, 1215, 375);

    for (QLabel *label : {Label1, Label2})
        label->setTextFormat(Qt::PlainText);
    fitWrapped(Label2);

    const std::pair<QPushButton *, void (AddDir::*)()> buttons[] = {
        {Command1, &AddDir::Command1_Click}, {Command2, &AddDir::Command2_Click},
        {Command3, &AddDir::Command3_Click}, {Command4, &AddDir::Command4_Click}};
    for (const auto &[button, handler] : buttons) {
        // Neither Enter nor Esc stands for a button here: Enter opens the highlighted folder.
        button->setAutoDefault(false);
        button->setDefault(false);
        connect(button, &QPushButton::clicked, this, handler);
    }

    setTabOrder(Dir1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
}

// A folder that cannot be opened leaves the list where it was.
void AddDir::Form_Load()
{
    Dir1->setPath(QStringLiteral("C:\\"));
}

// Add Directory: the highlighted entry, exactly as the list gives it.
void AddDir::Command1_Click()
{
    m_panel.AddDirectory(Dir1->List(Dir1->ListIndex()));
    Unload();
}

// Cancel
void AddDir::Command2_Click()
{
    Unload();
}

// The "C:\" button
void AddDir::Command3_Click()
{
    Dir1->setPath(QStringLiteral("C:\\"));
}

// My Documents: the fixed folder of the users' folders, not the user's own.
void AddDir::Command4_Click()
{
    Dir1->setPath(QStringLiteral("C:\\Documents and Settings"));
}
