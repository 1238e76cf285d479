// How long the restore window takes to a usable tree on a large location:
// 100,000 copies with a version each (100 folders of 1,000 files), their
// record of origins as a run writes it. Each round starts this program
// again to open the window on the location, and times it from the start of
// that process to the tree shown with its top folder unfolded.
//
//   bench_restore_window [--files N] [--rounds N] [--dir PATH] [--keep]
//
// --keep leaves the location made, and says where, for a closer look.
//
// Runs headless unless QT_QPA_PLATFORM says otherwise.
#include "bench_common.h"
#include "bench_panel.h"
#include "core/platform/paths/drive_map.h"
#include "core/store/location_layout.h"
#include "core/store/origin_record.h"
#include "gui/platform/form.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"
#include "gui/restore/restore_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeView>

using namespace bench;

namespace {

constexpr int kFilesPerFolder = 1000;
constexpr qint64 kSecond = 1'000'000'000;

bool makeLocation(const QByteArray &location, int files)
{
    if (!QDir().mkpath(QFile::decodeName(location + "/.quillstow/versions")))
        return false;
    OriginRecord record;
    record.setWriter({QByteArray(32, 'a'), "bench", "ann", 1000});
    const QDateTime replaced = QDateTime::fromSecsSinceEpoch(1'765'000'000);
    for (int i = 0; i < files; ++i) {
        const QByteArray name = "file" + QByteArray::number(i) + ".txt";
        const QByteArray original =
            "/home/ann/Documents/folder" + QByteArray::number(i / kFilesPerFolder) + '/' + name;
        const QByteArray version = location_layout::kVersions.toByteArray() + '/'
                                   + location_layout::versionName(name, replaced);
        for (const QByteArray &stored : {name, version}) {
            QFile file(QFile::decodeName(location + '/' + stored));
            if (!file.open(QIODevice::WriteOnly) || file.write("x") != 1)
                return false;
        }
        const qint64 modified = 1'760'000'000 * kSecond;
        record.put({OriginEntry::Kind::Copy, name, original, 1, modified + kSecond, 0644, modified + kSecond, 0, {}});
        record.put({OriginEntry::Kind::Version, version, original, 1, modified, 0644, modified,
                    replaced.toMSecsSinceEpoch() * 1'000'000, {}});
    }
    return bool(record.save(OriginRecord::pathFor(location, record.writer())));
}

// The child: the window on the location, then the time since this process started.
int openWindow(int argc, char *argv[], const QByteArray &location)
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    applyToolkitLook();
    const DriveMap drives = DriveMap::fromEnvironment();
    SilentMessageBox box;
    NoEnd end;
    const Host host{drives, box, end, QString()};
    auto *window = new RestoreWindow(host, location);
    bool read = false;
    QObject::connect(window, &RestoreWindow::locationRead, [&read] { read = true; });
    window->load();
    window->show();
    QCoreApplication::processEvents();
    const qint64 windowShown = sinceMain.elapsed();
    while (!read)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    auto *tree = window->findChild<QTreeView *>(QStringLiteral("Files"));
    const int folders = tree->model()->rowCount(tree->model()->index(0, 0));
    std::printf("%d folders shown; the window itself after %lld ms\n", folders, windowShown);
    window->discard();
    return folders > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--open") == 0)
        return openWindow(argc, argv, argv[2]);
    int files = 100'000;
    int rounds = 5;
    QByteArray dir;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (i + 1 == argc)
            break;
        else if (std::strcmp(argv[i], "--files") == 0)
            files = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0)
            dir = argv[i + 1];
        else
            continue;
        ++i;
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir scratch(dir.isEmpty() ? QDir::tempPath() + QStringLiteral("/bench_restore_window-XXXXXX")
                                        : QFile::decodeName(dir) + QStringLiteral("/bench_restore_window-XXXXXX"));
    scratch.setAutoRemove(!keep);
    const QByteArray location = QFile::encodeName(scratch.path()) + "/location";
    const double made = now();
    if (!makeLocation(location, files)) {
        std::fprintf(stderr, "the location could not be made in %s\n", location.constData());
        return 2;
    }
    std::printf("%d copies with a version each, made in %.1f s%s%s\n", files, now() - made, keep ? ", kept in " : "",
                keep ? location.constData() : "");
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(environment);
        const double start = now();
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open"), QFile::decodeName(location)});
        if (!child.waitForFinished(120'000) || child.exitCode() != 0) {
            std::fprintf(stderr, "the window did not show the tree: %s\n", child.readAllStandardError().constData());
            return 1;
        }
        times.push_back(now() - start);
        std::printf("round %d: %.3f s to a usable tree (%s)\n", round + 1, times.back(),
                    child.readAllStandardOutput().trimmed().constData());
    }
    std::printf("median: %.3f s from the process start to a usable tree, %d files\n", median(times), files);
    return 0;
}
