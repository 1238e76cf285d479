#pragma once
#include <QByteArray>
#include <QList>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// Asks the disk for the files a restore is about to copy, on a thread of its
// own, a little ahead of the copying. From a cold disk or a stick a copy
// otherwise waits for each small file's read in turn, and a large file's
// read does not begin until the file before it is written, so the disk sits
// half idle; one process copying file after file (cp) waits the same way.
// Only a hint: a file it cannot open is left to the copy, which reports it.
class ReadAhead
{
public:
    struct File
    {
        QByteArray path;
        qint64 size = 0;
    };
    // How far ahead of the copy it reads: enough to keep the disk busy, little
    // enough that what it read is still in memory when the copy comes to it.
    static constexpr qsizetype kMostFiles = 256;
    static constexpr qint64 kMostBytes = qint64(128) << 20;

    // The files in the order they will be copied; the reading begins at once.
    explicit ReadAhead(QList<File> files);
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;
    ~ReadAhead(); // stops and waits for its thread

    // The copy has come to files[index].
    void reached(qsizetype index);

private:
    void run();

    const QList<File> m_files;
    std::vector<qint64> m_bytesBefore; // of files[0 .. i), and the whole at the end
    std::mutex m_mutex;
    std::condition_variable m_moved;
    qsizetype m_reached = 0; // guarded by m_mutex
    bool m_stop = false;     // guarded by m_mutex
    std::thread m_thread;    // last: begun once the rest is set
};
