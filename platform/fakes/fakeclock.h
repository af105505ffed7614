#pragma once

#include "platform/clock.h"

#include <QDateTime>
#include <QList>
#include <QTimeZone>

namespace ostrelle {

// A clock that only moves when told to. Setting it moves it, unless it is told to refuse.
class FakeClock final : public Clock
{
public:
    using TimePoint = std::chrono::system_clock::time_point;

    explicit FakeClock(const QDateTime& startUtc = QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 125),
                                                             QTimeZone::utc()));

    TimePoint now() const override { return m_now; }
    [[nodiscard]] bool setUtc(TimePoint time) override;

    void setNow(const QDateTime& utc);
    void setNow(TimePoint time) { m_now = time; }
    QDateTime nowDateTime() const;
    void advanceMs(qint64 ms) { m_now += std::chrono::milliseconds(ms); }

    bool refuseSet = false;
    QList<TimePoint> setCalls; // every attempt, refused or not

private:
    TimePoint m_now;
};

} // namespace ostrelle
