#pragma once
#include <QByteArray>
#include <QString>

// File names on disk are bytes; the program's strings are Unicode. This codec
// carries every name across without loss, so whatever a folder holds can be
// listed, joined into a drive-letter path and copied under its exact name:
// - a byte that is not part of valid UTF-8 becomes a code point of its own,
//   U+DC80 to U+DCFF, and turns back into the same byte;
// - "\" becomes the private-use U+F05C, so in drive-letter form a name that
//   holds one stays a single component and is never read as a path;
// - the UTF-8 bytes of U+F05C itself are carried as three escaped bytes, so
//   that the stand-in never meets a real one.
namespace posixname {

constexpr char16_t kBackslash = u'\uF05C';

QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);

// The bytes of a POSIX path held as text, as Qt's file functions give it or
// with this codec's escapes in it. Unlike encode(), U+F05C is a character of
// its own here: a POSIX path's backslashes are already real ones.
QByteArray pathBytes(QStringView path);

// A name of this codec as a person reads it: the stand-in drawn as "\", a
// real U+F05C as itself, each byte that is not UTF-8 as U+FFFD and a control
// character as its picture (U+2400 on). For showing only: it does not come
// back to the name's bytes.
QString displayed(QStringView name);

} // namespace posixname
