// What a timer check that finds nothing due costs: inside the program,
// reading AutoBackup.dat and a full run log (64 KiB, some 400 runs) and
// deciding; then the whole `quillstow --backup --if-due` command as the timer
// starts it (fork, exec, Qt's start-up, the check, exit), with the peak
// memory of the process, each time followed by the reference: cat reading
// the same two files (A B A B), and the median ratio of the two.
//
//   bench_due_check [--rounds N] [--processes N] [--program PATH]
// PATH: the built quillstow (default: ../src/quillstow from this program).
#include "core/backup/auto_schedule.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/system/clock.h"
#include "core/store/auto_backup_file.h"
#include "core/store/run_log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct ProcessCost
{
    double millis = 0;
    long maxRssKib = 0;
    int status = -1;
};

// One run of a program, from fork to its end, in the environment given.
ProcessCost runOnce(const std::vector<QByteArray> &arguments, const std::vector<QByteArray> &environment)
{
    std::vector<char *> env;
    for (const QByteArray &each : environment)
        env.push_back(const_cast<char *>(each.constData()));
    env.push_back(nullptr);
    std::vector<char *> argv;
    for (const QByteArray &each : arguments)
        argv.push_back(const_cast<char *>(each.constData()));
    argv.push_back(nullptr);
    ProcessCost cost;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execve(argv[0], argv.data(), env.data());
        ::_exit(127);
    }
    if (child < 0)
        return cost;
    int status = 0;
    rusage usage = {};
    ::wait4(child, &status, 0, &usage);
    cost.millis = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    cost.maxRssKib = usage.ru_maxrss;
    cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return cost;
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 2000;
    int processes = 30;
    QByteArray program;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--processes") == 0)
            processes = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--program") == 0)
            program = argv[++i];
    }
    QCoreApplication app(argc, argv);
    if (program.isEmpty())
        program = QFile::encodeName(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/quillstow"));
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("drives"));
    QDir(dir.path()).mkpath(QStringLiteral("app"));
    const DriveMap drives(dir.path() + QStringLiteral("/drives"), dir.path());
    const QString appPath = drives.toDos(dir.path() + QStringLiteral("/app")).value_or(QString());
    const AutoBackupFile autoBackup(drives, appPath);
    if (!autoBackup.save(2)) {
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
        const auto decision = auto_schedule::decide(autoBackup.read().valueOr(0), run_log::lastCompletedStart(all.valueOr({})), clock);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        notDue += decision.kind == auto_schedule::Decision::Kind::NotDue;
        runs = all.valueOr({}).size();
    }
    std::sort(micros.begin(), micros.end());
    std::printf("due check, nothing due (%d of %d rounds), log of %lld runs, %lld bytes:\n", notDue, rounds,
                static_cast<long long>(runs),
                static_cast<long long>(QFile(log.path()).size()));
    std::printf("  median %.0f us, 90th percentile %.0f us\n", micros[micros.size() / 2], micros[micros.size() * 9 / 10]);
    if (notDue != rounds)
        return 1;

    // The whole command: a copy of the program in the app folder, so that
    // its data files are the ones written above.
    const QString copy = dir.path() + QStringLiteral("/app/quillstow");
    if (!QFile::copy(QFile::decodeName(program), copy)) {
        std::fprintf(stderr, "cannot copy %s\n", program.constData());
        return 1;
    }
    const QByteArray base = QFile::encodeName(dir.path());
    const std::vector<QByteArray> environment = {
        "PATH=/usr/bin:/bin", "HOME=" + base + "/home", "XDG_CONFIG_HOME=" + base + "/config",
        "XDG_DATA_HOME=" + base + "/data", "XDG_STATE_HOME=" + base + "/state", "XDG_RUNTIME_DIR=" + base,
        "LANG=C.UTF-8"};
    const std::vector<QByteArray> check{QFile::encodeName(copy), "--backup", "--if-due"};
    // The reference: a process that only reads the same two files, the least
    // any check in a program of its own can cost.
    const std::vector<QByteArray> cat{"/bin/cat", QFile::encodeName(dir.path() + QStringLiteral("/app/AutoBackup.dat")), QFile::encodeName(log.path())};
    runOnce(check, environment); // the page cache warm, as for the timer's every check but the first
    std::vector<double> millis, catMillis, ratios;
    long maxRss = 0;
    long catMaxRss = 0;
    for (int r = 0; r < processes; ++r) {
        const ProcessCost cost = runOnce(check, environment);
        if (cost.status != 0) {
            std::fprintf(stderr, "the check ended with status %d\n", cost.status);
            return 1;
        }
        const ProcessCost reference = runOnce(cat, environment);
        millis.push_back(cost.millis);
        catMillis.push_back(reference.millis);
        ratios.push_back(cost.millis / reference.millis);
        maxRss = std::max(maxRss, cost.maxRssKib);
        catMaxRss = std::max(catMaxRss, reference.maxRssKib);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto ninetieth = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() * 9 / 10];
    };
    std::printf("quillstow --backup --if-due, nothing due, %d processes, each followed by cat of the same two files:\n",
                processes);
    std::printf("  quillstow: wall median %.1f ms, 90th percentile %.1f ms; peak memory %.1f MiB\n", median(millis),
                ninetieth(millis), double(maxRss) / 1024.0);
    std::printf("  cat:       wall median %.1f ms, 90th percentile %.1f ms; peak memory %.1f MiB\n", median(catMillis),
                ninetieth(catMillis), double(catMaxRss) / 1024.0);
    std::printf("  median ratio quillstow / cat: %.1f\n", median(ratios));
    const bool met = median(millis) < 20 && double(maxRss) / 1024.0 < 15;
    std::printf("target: under 20 ms and under 15 MiB %s\n", met ? "met" : "MISSED");
    return 0;
}
