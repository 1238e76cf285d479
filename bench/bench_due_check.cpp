// What a timer check that finds nothing due costs inside the program: reading
// AutoBackup.dat and a full run log (64 KiB, some 400 runs) and deciding.
// Process start-up is not in it; the whole `--if-due` command is measured
// where it is run.
//
//   bench_due_check [--rounds N]
#include "backup/auto_schedule.h"
#include "platform/paths/drive_map.h"
#include "platform/system/clock.h"
#include "store/auto_backup_file.h"
#include "store/run_log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    int rounds = 2000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[++i]));
    }
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("drives"));
    QDir(dir.path()).mkpath(QStringLiteral("app"));
    const DriveMap drives(dir.path() + QStringLiteral("/drives"), dir.path());
    const QString appPath = drives.toDos(dir.path() + QStringLiteral("/app")).value_or(QString());
    const AutoBackupFile autoBackup(drives, appPath);
    if (autoBackup.Save(2)) {
        std::fprintf(stderr, "cannot write AutoBackup.dat\n");
        return 1;
    }

    const SystemClock clock;
    const RunLog log(dir.path() + QStringLiteral("/state/quillstow/runs.log"));
    RunRecord run;
    run.trigger = RunRecord::Trigger::Automatic;
    run.copied = 1234;
    run.current = 56789;
    run.reason = QStringLiteral("C:\\home\\ann\\Docs\\a file with a long name.odt: Permission denied");
    for (int i = 0; i < 1000; ++i) {
        run.start = clock.now().addSecs(qint64(i - 1000) * 60);
        run.end = run.start.addSecs(30);
        if (!log.append(run)) {
            std::fprintf(stderr, "cannot write the run log\n");
            return 1;
        }
    }

    std::vector<double> micros;
    int notDue = 0;
    qsizetype runs = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const auto all = log.runs();
        const auto decision = auto_schedule::decide(autoBackup.code(), run_log::lastCompletedStart(all.valueOr({})), clock);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        notDue += decision.kind == auto_schedule::Decision::Kind::NotDue;
        runs = all.valueOr({}).size();
    }
    std::sort(micros.begin(), micros.end());
    std::printf("due check, nothing due (%d of %d rounds), log of %lld runs, %lld bytes:\n", notDue, rounds,
                static_cast<long long>(runs),
                static_cast<long long>(QFile(log.path()).size()));
    std::printf("  median %.0f us, 90th percentile %.0f us\n", micros[micros.size() / 2], micros[micros.size() * 9 / 10]);
    return notDue == rounds ? 0 : 1;
}
