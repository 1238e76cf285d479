#pragma once
// Helpers shared by the export and import tests.
#include "app/form1.h"
#include "store/settings_file.h"
#include "support/scripted_host.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPointer>
#include <QTest>

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

inline QByteArray encoded(const SettingsModel &model)
{
    QString error;
    const auto bytes = settings_file::encode(model, &error);
    return bytes.value_or(QByteArray());
}

inline SettingsModel listOf(const QStringList &dirs, const QString &location)
{
    SettingsModel m;
    for (int i = 0; i < dirs.size(); ++i)
        m.DirList[i] = dirs[i];
    m.Settings[0] = Variant::fromString(location);
    m.Settings[1] = Variant::fromInteger(qint16(dirs.size()));
    return m;
}

inline QString settingsPath(const TestHost &t)
{
    return t.posix(QStringLiteral("app/BackupSettings.dat"));
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
    explicit Panel(TestHost &t) : form(new Form1(t.host))
    {
        form->Load();
        form->show();
    }
    ~Panel()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *f = qobject_cast<Form *>(w); f && f->isVisible())
                f->Discard();
        }
    }
    Form1 *operator->() const { return form.data(); }
    QPointer<Form1> form;
};

inline QStringList shownLines(const Form1 &form)
{
    QStringList out;
    for (int i = 0; i < form.filesList()->count(); ++i)
        out << form.filesList()->item(i)->text();
    return out;
}
