#pragma once

#include "platform/clock.h"

#include <QDateTime>
#include <QList>

namespace ostrelle {

// A clock that only moves when told to. Setting it moves it, unless it is told to refuse.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(const QDateTime& startUtc = QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 125),
                                                             Qt::UTC));

    SYSTEMTIME utcNow() const override;
    [[nodiscard]] bool setUtc(const SYSTEMTIME& time) override;

    void setNow(const QDateTime& utc) { m_now = utc.toUTC(); }
    QDateTime now() const { return m_now; }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }

    bool refuseSet = false;
    QList<SYSTEMTIME> setCalls; // every attempt, refused or not

private:
    QDateTime m_now;
};

} // namespace ostrelle
