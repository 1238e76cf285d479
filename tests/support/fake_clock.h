#pragma once
#include "core/platform/system/clock.h"

// A clock that stands still until the test moves it.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime start) : m_now(start.toUTC()) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &at) { m_now = at.toUTC(); }
    void advance(qint64 seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
};
