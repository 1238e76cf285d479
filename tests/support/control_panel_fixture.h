#pragma once
// A control panel on a test host, and the settings files it starts from.
#include "core/store/data_file_names.h"
#include "core/store/settings_file.h"
#include "gui/app/control_panel_window.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QTest>

inline QByteArray encoded(const SettingsModel &model)
{
    return settings_file::encode(model).valueOr(QByteArray());
}

inline SettingsModel listOf(const QStringList &dirs, const QString &location = QStringLiteral("C:\\Backup\\"))
{
    SettingsModel m;
    for (int i = 0; i < dirs.size(); ++i)
        m.directories[size_t(i)] = dirs[i];
    m.setLocation(location);
    m.setCount(int(dirs.size()));
    return m;
}

// The settings file of the test host, as a POSIX path.
inline QString settingsPath(const TestHost &t)
{
    return t.posix(QStringLiteral("app/") + data_file_names::kSettings);
}

// A named control of a window (a button, the list, a menu item), or null.
template <class T = QWidget>
T *control(const QObject *window, const char *name)
{
    return window ? window->findChild<T *>(QString::fromLatin1(name)) : nullptr;
}

// The one open window of that designer name, if any.
template <class T>
T *openWindow(const char *name)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String(name) && w->isVisible())
            return qobject_cast<T *>(w);
    }
    return nullptr;
}

// A control panel on the test host, loaded and shown as at program start;
// it and every window still open go the way End takes them, without their
// unload handlers.
struct Panel
{
    explicit Panel(TestHost &t) : form(new ControlPanelWindow(t.host))
    {
        form->load();
        form->show();
    }
    ~Panel()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *f = qobject_cast<Form *>(w); f && f->isVisible())
                f->discard();
        }
    }
    ControlPanelWindow *operator->() const { return form.data(); }
    QListWidget *files() const { return control<QListWidget>(form, "Files"); }
    QPointer<ControlPanelWindow> form;
};

// The lines of the control panel's backup list, in order.
inline QStringList shownLines(const ControlPanelWindow &form)
{
    QStringList out;
    if (const auto *files = control<QListWidget>(&form, "Files")) {
        for (int i = 0; i < files->count(); ++i)
            out << files->item(i)->text();
    }
    return out;
}

// The backup location the control panel shows.
inline QString shownLocation(const ControlPanelWindow &form)
{
    const auto *label = control<QLabel>(&form, "BackupDir");
    return label ? label->text() : QStringLiteral("<no BackupDir>");
}
