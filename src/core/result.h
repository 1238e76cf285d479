#pragma once
#include <QString>

#include <cassert>
#include <utility>
#include <variant>

// A failure as the host reports it: the reason, in words a person can read,
// and the system's error number behind it, which callers and tests compare
// rather than the words (they depend on the locale).
struct Failure
{
    QString reason;
    int systemError = 0; // the errno value; 0 where no system call failed

    // The same failure, told of what it happened to: "<subject>: <reason>".
    Failure about(const QString &subject) const { return {subject + QStringLiteral(": ") + reason, systemError}; }
};

// What an operation that can fail returns: its value, or a Failure with the
// host's reason. It cannot be ignored, and it never reads as the other one:
// `if (!result)` is a failure whatever T is.
template <typename T>
class [[nodiscard]] Result
{
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : m_state(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T &value() const &
    {
        assert(ok());
        return std::get<0>(m_state);
    }
    T &value() &
    {
        assert(ok());
        return std::get<0>(m_state);
    }
    T &&value() &&
    {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    const T &operator*() const & { return value(); }
    T &operator*() & { return value(); }
    const T *operator->() const { return &value(); }
    T *operator->() { return &value(); }

    // The value, or `fallback` on a failure.
    T valueOr(T fallback) const & { return ok() ? value() : std::move(fallback); }

    const Failure &failure() const
    {
        assert(!ok());
        return std::get<1>(m_state);
    }
    const QString &error() const { return failure().reason; }
    int systemError() const { return failure().systemError; }

private:
    std::variant<T, Failure> m_state;
};

// What an operation that has no value returns: done, or a Failure.
template <>
class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure) : m_failed(true), m_failure(std::move(failure)) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }

    const Failure &failure() const
    {
        assert(m_failed);
        return m_failure;
    }
    const QString &error() const { return failure().reason; }
    int systemError() const { return failure().systemError; }
    // For a log line or a test's message: the reason, or that it was done.
    QString describe() const { return m_failed ? m_failure.reason : QStringLiteral("done"); }

private:
    bool m_failed = false;
    Failure m_failure;
};

using Status = Result<void>;

inline Status done()
{
    return {};
}

// A failure that no system call reported: a file of the wrong kind, a value
// that does not fit.
inline Failure failure(QString reason)
{
    return Failure{std::move(reason)};
}
