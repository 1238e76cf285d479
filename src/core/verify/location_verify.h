#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Reads back the copies and versions of a backup location and compares each
// with the checksum its record of origin keeps (origin_record.h). Only the
// location is read: a copy whose original is gone verifies all the same.
namespace location_verify {

struct Finding
{
    enum class Kind { Differs, Missing, Unreadable };
    Kind kind = Kind::Differs;
    QByteArray name;     // relative to the location's folder
    QByteArray original; // the POSIX path it was copied from
    QString reason;      // Unreadable: the host's reason
};

struct Report
{
    qsizetype withChecksum = 0; // entries of the location that have one
    qsizetype checked = 0;      // of those, read back this time
    qint64 bytesRead = 0;
    QList<Finding> findings;    // sorted by name
    QStringList skippedRecords; // records of origin that could not be read
    bool anyRecord = false;     // the location holds a readable record at all

    qsizetype matched() const { return checked - findings.size(); }
};

// A number in [0, bound), for the random share; QRandomGenerator's by default.
using Pick = std::function<quint64(quint64 bound)>;

// Every entry with a checksum, or a random `percent` of them (at least one
// where there is any), in the order of their names. Where several machines'
// records name one copy, the latest copy's entry counts.
Report verify(const QByteArray &locationFolder, double percent = 100, const Pick &pick = {});

} // namespace location_verify
