// Times the backup run onto a network share against cp -p and rsync: an sshd
// of its own on 127.0.0.1, a relay in front of it that holds every chunk 1 ms
// each way (a 2 ms round trip), and the share mounted through it with sshfs.
//
//   bench_share [--folders N] [--files N] [--size BYTES] [--rounds N] [--dir PATH] [--everyday]
//
// Defaults: 4 folders of 50 files of 4 KiB, 3 rounds, medians. Each tool
// copies first into an empty folder, then again over its own copies. Then
// the everyday runs over copies already on the share, against rsync -t and
// cp -p: nothing changed; 1 % rewritten with the time moved forward; 1 %
// rewritten in place with the old time put back; stale copies counted. Skips,
// saying why, where /dev/fuse, sshd, sshfs or ssh-keygen is missing. The
// mount, sshd and the relay go at the end, on failure and on Ctrl-C.
#include "bench_table.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>

using namespace bench;

namespace {

constexpr auto kDelay = std::chrono::milliseconds(1);

int listenLoopback(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// A free port on the loopback: bound, read back and let go for sshd to take.
int freePort()
{
    int port = 0;
    const int fd = listenLoopback(port);
    if (fd < 0)
        return 0;
    ::close(fd);
    return port;
}

// Forwards every connection to a loopback port, each chunk held back by
// kDelay in each direction. Each direction has a reader, which stamps the
// chunk with the time it is due, and a writer, which sends it then: order is
// kept and chunks in flight overlap, as on a real link.
class Relay
{
public:
    explicit Relay(int targetPort) : m_target(targetPort) {}
    ~Relay() { stop(); }

    bool start()
    {
        m_listen = listenLoopback(m_port);
        if (m_listen < 0)
            return false;
        m_acceptor = std::thread([this] { acceptLoop(); });
        return true;
    }
    int port() const { return m_port; }

    void stop()
    {
        if (m_stopping.exchange(true))
            return;
        // No connection is added once the acceptor is gone.
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (int fd : m_sockets)
            ::shutdown(fd, SHUT_RDWR);
        for (auto &d : m_directions) {
            // Taken and let go, so a writer is either waiting or sees the flag.
            { std::lock_guard lock(d->mutex); }
            d->ready.notify_all();
        }
        for (std::thread &t : m_threads)
            t.join();
        for (int fd : m_sockets)
            ::close(fd);
        if (m_listen >= 0)
            ::close(m_listen);
    }

private:
    struct Chunk
    {
        std::chrono::steady_clock::time_point due;
        QByteArray data; // empty: the sender closed its side
    };
    struct Direction
    {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Chunk> chunks;
    };

    void acceptLoop()
    {
        while (!m_stopping) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            const int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            const int server = connectLoopback(m_target);
            if (server < 0) {
                ::close(client);
                continue;
            }
            std::lock_guard lock(m_mutex);
            m_sockets.push_back(client);
            m_sockets.push_back(server);
            forward(client, server);
            forward(server, client);
        }
    }

    // Called with m_mutex held.
    void forward(int from, int to)
    {
        Direction *d = m_directions.emplace_back(std::make_unique<Direction>()).get();
        m_threads.emplace_back([this, d, from] {
            QByteArray buffer(1 << 16, Qt::Uninitialized);
            for (;;) {
                const ssize_t n = ::read(from, buffer.data(), size_t(buffer.size()));
                const auto due = std::chrono::steady_clock::now() + kDelay;
                std::lock_guard lock(d->mutex);
                d->chunks.push_back({due, n > 0 ? QByteArray(buffer.constData(), n) : QByteArray()});
                d->ready.notify_one();
                if (n <= 0)
                    return;
            }
        });
        m_threads.emplace_back([this, d, to] {
            for (;;) {
                std::unique_lock lock(d->mutex);
                d->ready.wait(lock, [&] { return m_stopping || !d->chunks.empty(); });
                if (m_stopping)
                    return;
                Chunk c = std::move(d->chunks.front());
                d->chunks.pop_front();
                lock.unlock();
                std::this_thread::sleep_until(c.due);
                if (c.data.isEmpty()) {
                    ::shutdown(to, SHUT_WR);
                    return;
                }
                for (qsizetype done = 0; done < c.data.size();) {
                    const ssize_t w = ::send(to, c.data.constData() + done, size_t(c.data.size() - done), MSG_NOSIGNAL);
                    if (w <= 0)
                        return;
                    done += w;
                }
            }
        });
    }

    int m_target;
    int m_port = 0;
    int m_listen = -1;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::vector<int> m_sockets;
    std::list<std::unique_ptr<Direction>> m_directions;
    std::thread m_acceptor;
    std::vector<std::thread> m_threads;
};

// Ctrl-C or a kill: the mount and sshd must not outlive the bench.
char g_mountPoint[4096];
volatile sig_atomic_t g_sshdPid = 0;

void onSignal(int sig)
{
    if (g_sshdPid > 0)
        ::kill(g_sshdPid, SIGTERM);
    if (g_mountPoint[0]) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::execlp("fusermount3", "fusermount3", "-u", "-z", g_mountPoint, static_cast<char *>(nullptr));
            ::_exit(127);
        }
        if (child > 0)
            ::waitpid(child, nullptr, 0);
    }
    ::_exit(128 + sig);
}

class Sshd
{
public:
    ~Sshd()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(2000);
        }
        g_sshdPid = 0;
    }

    // Keys and a configuration of its own under dir; listens on a free loopback port.
    bool start(const QString &sshd, const QString &dir, const QString &userKey, QString *error)
    {
        m_port = freePort();
        const QString hostKey = dir + QStringLiteral("/host_key");
        if (!run(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                                QStringLiteral("-N"), QString(), QStringLiteral("-f"), hostKey})
            || !run(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                                   QStringLiteral("-N"), QString(), QStringLiteral("-f"), userKey})
            || !QFile::copy(userKey + QStringLiteral(".pub"), dir + QStringLiteral("/authorized_keys"))) {
            *error = QStringLiteral("ssh-keygen could not make the keys");
            return false;
        }
        QFile config(dir + QStringLiteral("/sshd_config"));
        if (!config.open(QIODevice::WriteOnly) || m_port == 0) {
            *error = QStringLiteral("cannot write sshd_config or find a free port");
            return false;
        }
        config.write(QStringLiteral("ListenAddress 127.0.0.1:%1\n"
                                    "HostKey %2\n"
                                    "AuthorizedKeysFile %3/authorized_keys\n"
                                    "PidFile none\n"
                                    "UsePAM no\n"
                                    "StrictModes no\n"
                                    "PubkeyAuthentication yes\n"
                                    "PasswordAuthentication no\n"
                                    "KbdInteractiveAuthentication no\n"
                                    "PermitRootLogin yes\n"
                                    "Subsystem sftp internal-sftp\n"
                                    "LogLevel ERROR\n")
                         .arg(m_port)
                         .arg(hostKey, dir)
                         .toUtf8());
        config.close();
        // sshd refuses to start without its privilege separation folder.
        if (::geteuid() == 0)
            QDir().mkpath(QStringLiteral("/run/sshd"));
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(sshd, {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config.fileName()});
        if (!m_process.waitForStarted(5000)) {
            *error = QStringLiteral("sshd did not start");
            return false;
        }
        g_sshdPid = sig_atomic_t(m_process.processId());
        for (int tries = 0; tries < 100; ++tries) {
            if (m_process.state() == QProcess::NotRunning)
                break;
            const int fd = connectLoopback(m_port);
            if (fd >= 0) {
                ::close(fd);
                return true;
            }
            m_process.waitForFinished(50);
        }
        *error = QStringLiteral("sshd did not listen: %1").arg(QString::fromLocal8Bit(m_process.readAll()).trimmed());
        return false;
    }
    int port() const { return m_port; }

private:
    QProcess m_process;
    int m_port = 0;
};

class Mount
{
public:
    explicit Mount(QString point) : m_point(std::move(point)) {}
    ~Mount()
    {
        if (!m_mounted)
            return;
        if (!run(QStringLiteral("fusermount3"), {QStringLiteral("-u"), m_point}))
            run(QStringLiteral("umount"), {QStringLiteral("-l"), m_point});
        g_mountPoint[0] = 0;
    }
    bool mount(const QString &remote, int port, const QString &key)
    {
        const QByteArray point = posixname::encode(m_point);
        if (point.size() >= qsizetype(sizeof g_mountPoint))
            return false;
        std::memcpy(g_mountPoint, point.constData(), size_t(point.size()) + 1);
        m_mounted = run(QStringLiteral("sshfs"),
                        {QStringLiteral("-p"), QString::number(port), QStringLiteral("-o"),
                         QStringLiteral("IdentityFile=%1,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,"
                                        "BatchMode=yes,LogLevel=ERROR")
                             .arg(key),
                         remote, m_point});
        if (!m_mounted)
            g_mountPoint[0] = 0;
        return m_mounted;
    }

private:
    QString m_point;
    bool m_mounted = false;
};

// cp -p as n processes side by side, the files dealt out in turn.
Tool cpSideBySide(const Tree &tree, int n)
{
    return {"cp -p, 8 processes side by side", [&tree, n](const QString &dest) {
                std::vector<QStringList> parts(size_t(n), QStringList{QStringLiteral("-p"), QStringLiteral("-t"), dest});
                int k = 0;
                for (int i = 0; i < tree.posixFolders.size(); ++i)
                    for (const QString &file : tree.filesOf(i))
                        parts[size_t(k++ % n)].append(file);
                std::vector<std::unique_ptr<QProcess>> processes;
                for (const QStringList &args : parts) {
                    if (args.size() == 3)
                        continue;
                    auto &p = processes.emplace_back(std::make_unique<QProcess>());
                    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
                    p->start(QStringLiteral("cp"), args);
                }
                bool ok = true;
                for (auto &p : processes)
                    ok = p->waitForFinished(-1) && p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0 && ok;
                return ok;
            },
            false,
            {},
            false};
}

int skip(const QString &why)
{
    std::printf("skipped: %s\n", qPrintable(why));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // --everyday: only the everyday runs of Quillstow and rsync, for trees
    // whose first copies onto the share would take each tool many minutes.
    bool everydayOnly = false;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--everyday"))
            everydayOnly = true;
        else
            args.push_back(argv[i]);
    }
    TreeOptions o{4, 50, 4096};
    if (!parseTreeOptions(int(args.size()), args.data(), o))
        return 2;
    int folders = o.folders, files = o.files, rounds = o.rounds;
    qint64 size = o.size;
    QString base = o.base;

    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return skip(QStringLiteral("/dev/fuse is missing or not usable here"));
    QString sshd = QStandardPaths::findExecutable(QStringLiteral("sshd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (sshd.isEmpty())
        return skip(QStringLiteral("sshd is not installed (apt-get install openssh-server)"));
    for (const char *tool : {"sshfs", "fusermount3", "ssh-keygen", "cp", "rsync", "sync", "find", "xargs", "bash"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return skip(QStringLiteral("%1 is not installed (apt-get install sshfs fuse3 openssh-client rsync)")
                            .arg(QString::fromLatin1(tool)));
    const passwd *user = ::getpwuid(::geteuid());
    if (!user)
        return skip(QStringLiteral("this user has no name to log in with"));

    struct sigaction sa{};
    sa.sa_handler = onSignal;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);

    QTemporaryDir root(base + QStringLiteral("/quillstow-share-XXXXXX"));
    if (!root.isValid()) {
        std::fprintf(stderr, "cannot create a folder under %s\n", qPrintable(base));
        return 1;
    }
    const QString r = root.path();
    // The runs' records of complete passes stay in the benchmark's own folder.
    qputenv("XDG_STATE_HOME", posixname::encode(r + QStringLiteral("/state")));
    for (const char *sub : {"/ssh", "/share", "/mnt", "/drives"})
        QDir().mkpath(r + QLatin1String(sub));
    // sshd reads the authorized keys as the user; a private temporary folder is fine with StrictModes off.
    QFile::setPermissions(r, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    const DriveMap drives(r + QStringLiteral("/drives"), r);
    const QString userKey = r + QStringLiteral("/ssh/user_key");

    // Declared in this order, they go in the reverse one: unmount, relay, sshd.
    Sshd daemon;
    QString error;
    if (!daemon.start(sshd, r + QStringLiteral("/ssh"), userKey, &error))
        return skip(error);
    Relay relay(daemon.port());
    if (!relay.start())
        return skip(QStringLiteral("the relay cannot listen on the loopback"));
    Mount mount(r + QStringLiteral("/mnt"));
    const QString remote = QStringLiteral("%1@127.0.0.1:%2").arg(QString::fromLocal8Bit(user->pw_name), r + QStringLiteral("/share"));
    if (!mount.mount(remote, relay.port(), userKey))
        return skip(QStringLiteral("sshfs could not mount %1 through the relay").arg(remote));

    std::printf("nproc: %d; sshd on 127.0.0.1:%d, relay on :%d holding each chunk %lld ms each way; sshfs at %s\n",
                cores(), daemon.port(), relay.port(), static_cast<long long>(kDelay.count()), qPrintable(r + QStringLiteral("/mnt")));
    std::printf("%s\n", dropCaches() ? "running as root: page cache dropped before every timed step"
                                     : "not root: page cache kept (only sync before every timed step)");
    Tree tree;
    if (!buildTree(drives, r + QStringLiteral("/src"), QStringLiteral("s"), folders, files, size, tree)) {
        std::fprintf(stderr, "cannot build the tree\n");
        return 1;
    }
    std::printf("median of %d round(s), tools interleaved, a different one first each round\n", rounds);
    std::fflush(stdout);
    std::vector<Tool> tools{{"quillstow", nullptr, true, {}, false}, cpOneProcess(tree), rsyncTool(tree), cpSideBySide(tree, 8)};
    std::vector<Samples> s;
    std::pair<double, double> full{0, 0};
    if (!everydayOnly) {
        if (!measure(drives, tree, r + QStringLiteral("/mnt"), rounds, tools, s))
            return 1;
        full = report("onto the share", tree, tools, s);
    }
    const auto [first, again] = full;
    // Quillstow, rsync, cp: the two everyday peers, over copies already on the share.
    const std::vector<Tool> everydayTools =
        everydayOnly ? std::vector<Tool>{tools[0], tools[2]} : std::vector<Tool>{tools[0], tools[2], tools[1]};
    std::vector<Everyday> everyday;
    if (!measureEveryday(drives, tree, r + QStringLiteral("/mnt"), rounds, everydayTools, everyday))
        return 1;
    const auto [unchanged, changed] = reportEveryday("on the share", tree, everydayTools, everyday);

    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    if (!everydayOnly) {
        std::printf("\ntargets, quillstow / cp -p one process, flush included on both sides:\n");
        std::printf("  first run    %.2f (<= 0.5) %s\n", first, verdict(first <= 0.5));
        std::printf("  repeated run %.2f (<= 0.25) %s\n", again, verdict(again <= 0.25));
    }
    std::printf("targets, quillstow / rsync -t, everyday runs:\n");
    std::printf("  nothing changed %.2f (<= 0.25) %s\n", unchanged, verdict(unchanged <= 0.25));
    std::printf("  1 %% changed     %.2f (<= 0.7) %s\n", changed, verdict(changed <= 0.7));
    std::printf("  stale copies    %d (0) %s\n", everyday[0].stale, verdict(everyday[0].stale == 0));
    return 0;
}
