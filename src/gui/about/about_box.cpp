#include "gui/about/about_box.h"

#include "core/platform/paths/code_page.h"
#include "core/platform/system/program_start.h"
#include "core/platform/system/registry.h"
#include "gui/platform/message_box.h"
#include "quillstow_version.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <array>

namespace {

const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

// Only the rights a reader needs: query value, enumerate sub-keys, notify and
// read control. Asking for write rights would lock out a user who may read the key.
constexpr std::uint32_t kReadOnlyAccess = 0x20019;

constexpr std::uint32_t kBufferSize = 1024;

// Closes a key when the lookup leaves, also when an error leaves it early.
struct KeyCloser
{
    Registry &registry;
    Registry::Key &key;
    ~KeyCloser() { registry.closeKey(key); }
};

} // namespace

AboutBox::AboutBox(const Host &host) : m_host(host)
{
    buildWindow();
}

void AboutBox::buildWindow()
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Quillstow"));
    setFixedClientTwips(4800, 3495, false);

    m_okButton = addControl<QPushButton>(this, "cmdOK", QStringLiteral("OK"), {3480, 2640, 1260, 345}, this,
                                    &AboutBox::okClicked);
    m_systemInfoButton = addControl<QPushButton>(this, "cmdSysInfo", QStringLiteral("&System Info..."), {3480, 3075, 1245, 345},
                                         this, &AboutBox::systemInfoClicked);
    // Enter presses the button that has the focus; "OK" when no button has it.
    m_okButton->setDefault(true);
    m_okButton->setAutoDefault(true);
    m_systemInfoButton->setAutoDefault(true);

    m_descriptionLabel = addControl<QLabel>(
        this, "lblDescription",
        QStringLiteral("This program allows the user to automatically backup important documents and files. It also has the "
                       "ability to backup files to remote locations, such as network attached storeage."),
        {120, 1125, 3885, 1170});
    m_disclaimerLabel = addControl<QLabel>(
        this, "lblDisclaimer",
        QStringLiteral("Warning: this program is protected by copyright. It may be copied or passed on only as its "
                       "copyright holders allow."),
        {135, 2625, 3270, 825});
    m_titleLabel = addControl<QLabel>(this, "lblTitle", QStringLiteral("Auto Sync Quillstow"), {120, 120, 3885, 480});
    QFont titleFont = m_titleLabel->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    m_titleLabel->setFont(titleFont);
    m_versionLabel = addControl<QLabel>(this, "lblVersion", QStringLiteral("Version: " QUILLSTOW_VERSION), {120, 780, 3885, 225});

    for (QLabel *label : {m_descriptionLabel, m_disclaimerLabel, m_titleLabel, m_versionLabel}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(label == m_descriptionLabel || label == m_disclaimerLabel);
    }

    // The etched rule: a white line 2 wide with a grey one over its top edge.
    m_ruleLines[0] = placeLine(this, "Line1(0)", 105, 4680, 2460, 2, Qt::white);
    m_ruleLines[1] = placeLine(this, "Line1(1)", 90, 4680, 2445, 1, QColor(128, 128, 128));

    setTabOrder(m_okButton, m_systemInfoButton);
    m_okButton->setFocus();
}

void AboutBox::keyPressEvent(QKeyEvent *event)
{
    // Esc stands for "OK", the cancel button; so does Enter where no button took it.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            m_okButton->click();
            return;
        }
        break;
    default:
        break;
    }
    Form::keyPressEvent(event);
}

void AboutBox::okClicked()
{
    unload();
}

void AboutBox::systemInfoClicked()
{
    startSystemInfo();
}

void AboutBox::startSystemInfo()
{
    if (!startViewer())
        m_host.messageBox.show(kUnavailable, {});
}

Status AboutBox::startViewer()
{
    QString path;
    const Result<bool> named = readKeyValue(Registry::LocalMachine,
                                            QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                                            QStringLiteral("PATH"), path);
    if (!named)
        return named.failure();
    if (!*named) {
        // The other key names a folder, which must hold the viewer.
        const Result<bool> folder = readKeyValue(Registry::LocalMachine,
                                                 QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                                                 QStringLiteral("MSINFO"), path);
        if (!folder)
            return folder.failure();
        if (!*folder)
            return failure(QStringLiteral("neither key names the viewer"));
        if (!m_host.programStart || m_host.programStart->normalFileName(path + QStringLiteral("\\MSINFO32.EXE")).isEmpty())
            return failure(QStringLiteral("the folder has no viewer"));
        path += QStringLiteral("\\MSINFO32.EXE");
    }
    // The first key names the viewer itself; it is started without a test.
    if (!m_host.programStart)
        return failure(QStringLiteral("programs cannot be started here"));
    return m_host.programStart->startProgram(path, ProgramStart::WindowStyle::NormalFocus);
}

Result<bool> AboutBox::readKeyValue(const std::int32_t &root, const QString &keyName, const QString &valueName,
                           QString &value)
{
    if (!m_host.registry) {
        value.clear();
        return false;
    }
    Registry &registry = *m_host.registry;
    Registry::Key key = 0;
    const KeyCloser closer{registry, key};

    if (registry.openKey(root, codepage::encode(keyName), 0, kReadOnlyAccess, key) != Registry::Success) {
        value.clear();
        return false;
    }

    std::array<char, kBufferSize> buffer{};
    std::uint32_t size = kBufferSize;
    std::uint32_t type = 0;
    if (registry.queryValue(key, codepage::encode(valueName), nullptr, &type, buffer.data(), &size)
        != Registry::Success) {
        value.clear();
        return false;
    }

    // The size counts the terminating NUL of a text; only that one is dropped.
    if (size == 0)
        return failure(QStringLiteral("a value of size 0"));
    QByteArray bytes(buffer.data(), qsizetype(size));
    if (bytes.endsWith('\0'))
        bytes.chop(1);

    if (type == 1) {
        const auto text = codepage::decode(bytes);
        if (!text)
            return failure(QStringLiteral("a text that is not in the code page"));
        value = *text;
    } else if (type == 4) {
        // A number's bytes, from the most significant down; each byte one code.
        QString hex = QStringLiteral("&h");
        for (qsizetype i = bytes.size() - 1; i >= 0; --i)
            hex += QStringLiteral("%1").arg(uint(uchar(bytes[i])), 2, 16, QLatin1Char('0')).toUpper();
        value = hex;
    }
    // Any other type leaves `value` as it was.
    return true;
}
