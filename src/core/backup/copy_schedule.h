#pragma once
#include <QHash>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

// One copy of the run, numbered in the order a one-at-a-time run makes it.
struct CopyTask
{
    QString source;
    QString name;           // the bare name, also the name in the backup location
    bool repass = false;    // the listing's earlier names again: its folder could not be opened
    int recurringKey = -1;  // >= 0: the folder is listed again later, remember what was copied
    int folderIndex = 0;    // the list entry whose visit planned it
    int sourceFolder = -1;  // the folder the source lies in, one number per folder of the run
    QString key;            // nameKey(name), set by the schedule where not given
    bool checked = false;   // found not current already: copy it without a second look
};

// Hands copies to the workers so that running several at once leaves what
// the one-at-a-time run leaves: copies to the same name run one after the
// other, in the order they were planned, so the last planned copy that
// succeeds is the one left in the backup location. Copies to different
// names run freely. It holds at most `window` copies, so a run of any size
// keeps its memory flat.
class CopySchedule
{
public:
    explicit CopySchedule(int window);

    // Waits while the schedule is full; false once it was cancelled.
    bool push(CopyTask task);
    // No more pushes: take() returns nullopt once everything is handed out.
    void finish();
    // Drops every copy not handed out yet and returns them; the ones in
    // flight finish.
    std::vector<CopyTask> cancel();

    // Waits for a copy that may start now; nullopt when there is no more work.
    std::optional<CopyTask> take();
    // The copy handed out by take() has ended: the next one to its name may start.
    void done(const CopyTask &task);

    // One key for all the names that some file system may take for one
    // file: compatibility forms, composed and decomposed accents and full
    // case folding ("straße", "STRASSE") meet. It is wider than any one file
    // system's rule, which only orders a few more copies.
    static QString nameKey(const QString &name);

    // Whether no copy to that nameKey() is held: none waits and none is under way.
    bool idle(const QString &key) const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    const int m_window;
    int m_held = 0; // queued, waiting and in flight
    bool m_finished = false;
    bool m_cancelled = false;
    std::deque<CopyTask> m_ready;
    // A name with a copy queued or in flight, and the later copies to it in order.
    QHash<QString, std::deque<CopyTask>> m_waiting;
};
