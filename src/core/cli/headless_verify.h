#pragma once
#include <QByteArray>

struct HeadlessEnvironment;

// quillstow --verify [--from FOLDER] [--sample PERCENT]: reads back the
// copies of a backup location and prints each that differs from its
// checksum or is missing, with its original, then one line of totals.
namespace headless_verify {

// The exit statuses.
constexpr int kAllMatch = 0;
constexpr int kSomeDoNot = 1;
constexpr int kNotStarted = 2; // no location, or none that can be read

struct Options
{
    QByteArray from; // a folder as mounted here, its bytes as given; empty: the saved location
    double samplePercent = 100;
};

int run(const Options &options, const HeadlessEnvironment &environment);

} // namespace headless_verify
