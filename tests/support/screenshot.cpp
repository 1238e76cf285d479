#include "support/screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

QString saveScreenshot(QWidget *window, const QString &name)
{
    QString dir = qEnvironmentVariable("QUILLSTOW_TEST_BUILD_DIR");
    if (dir.isEmpty())
        dir = QDir::currentPath();
    dir += QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    const QString path = dir + u'/' + name + QStringLiteral(".png");
    window->grab().save(path);
    return path;
}
