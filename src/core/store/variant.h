#pragma once
#include <QString>
#include <QtGlobal>

// A settings slot: Empty, a 16-bit signed integer or a string.
struct Variant
{
    enum class Kind { Empty, Integer, String };

    Kind kind = Kind::Empty;
    qint16 integer = 0;
    QString text;

    static Variant fromInteger(qint16 value) { return {Kind::Integer, value, {}}; }
    static Variant fromString(QString value) { return {Kind::String, 0, std::move(value)}; }

    bool isEmpty() const { return kind == Kind::Empty; }
    // Empty equals the empty string.
    bool equalsEmptyString() const { return kind == Kind::Empty || (kind == Kind::String && text.isEmpty()); }
    // As text: Empty is "", an integer its decimal digits.
    QString toText() const
    {
        return kind == Kind::Integer ? QString::number(integer) : text;
    }
    // As a count: Empty is 0; a string that is no 16-bit number is 0 as well.
    int toCount() const
    {
        if (kind == Kind::Integer)
            return integer;
        bool ok = false;
        const int value = text.trimmed().toShort(&ok);
        return ok ? value : 0;
    }

    bool operator==(const Variant &) const = default;
};
