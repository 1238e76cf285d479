#pragma once
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <vector>

// Drive letters on a host that has none: C: is the file system's root and
// further letters are symbolic links in a folder of their own, one per letter.
// Every path the rest of the program handles is in drive-letter form; this is
// the one place that turns such a path into a POSIX one and back.
class DriveMap
{
public:
    struct Drive
    {
        QChar letter;   // upper case
        QString target; // the POSIX folder the letter stands for
    };

    // drivesFolder holds the links "d:" to "z:" (and an optional "c:");
    // usersFolder is what "C:\Documents and Settings" stands for.
    DriveMap(QString drivesFolder, QString usersFolder);

    // $XDG_CONFIG_HOME/quillstow/drives and the parent of $HOME.
    static DriveMap fromEnvironment();

    // C: first, then the mapped letters in order. Read afresh on every call,
    // so a drive mapped while the program runs shows up.
    std::vector<Drive> drives() const;

    // The same map with every letter read once, now. A backup run works on
    // one, so that each of its thousands of paths costs no look at the
    // drives folder and a drive mapped during the run does not move it.
    DriveMap frozen() const;

    // "x:\a\\b\..\c" -> "X:\a\c": letter upper case, separators single, no
    // trailing "\" except on a drive root. A path without a letter is taken
    // relative to the current folder. nullopt: no drive letter can be found.
    std::optional<QString> normalize(const QString &dosPath) const;

    // The POSIX path a drive-letter path stands for; nullopt when it names no
    // known drive. A name's stand-in for "\" is a "\" here; its bytes are
    // posixname::encode() of it.
    std::optional<QString> toPosix(const QString &dosPath) const;

    // A path from the host in drive-letter form: the drive whose target is
    // the longest prefix; each name in the form of posix_name.h, so a "\"
    // inside it becomes the stand-in and a real U+F05C stays itself. The path
    // may be Qt's or hold the codec's escapes (posixname::pathBytes()).
    // nullopt when no drive holds it.
    std::optional<QString> toDos(const QString &posixPath) const;

    // The process's current folder in drive-letter form ("C:\" if it has none).
    QString currentFolder() const;

private:
    std::optional<QString> targetOf(QChar letter) const;
    std::optional<QString> dosOf(const QByteArray &posixPath) const;

    std::optional<QString> readTargetOf(QChar letter) const;

    QString m_drivesFolder;
    QString m_usersFolder;
    struct Frozen
    {
        std::array<std::optional<QString>, 26> targets; // A to Z
        std::array<QString, 26> canonical;             // each target with its links resolved
    };
    std::shared_ptr<const Frozen> m_frozen; // set in a frozen map only
};
