#include "platform/directclockstepper.h"

#include "platform/clock.h"

#include <QDateTime>

namespace ostrelle {

DirectClockStepper::DirectClockStepper(Clock& clock, QObject* parent) : ClockStepper(parent), m_clock(clock)
{
}

void DirectClockStepper::startStep(std::chrono::nanoseconds offset)
{
    const SYSTEMTIME now = m_clock.utcNow();
    const QDateTime then = QDateTime(QDate(now.wYear, now.wMonth, now.wDay),
                                     QTime(now.wHour, now.wMinute, now.wSecond, now.wMilliseconds), Qt::UTC)
                               .addMSecs(std::chrono::round<std::chrono::milliseconds>(offset).count());
    if (!then.isValid() || then.date().year() < 1 || then.date().year() > 9999) {
        finish(false, QStringLiteral("The new time cannot be given to the clock"), false);
        return;
    }
    const QDate date = then.date();
    const QTime time = then.time();
    SYSTEMTIME set;
    set.wYear = static_cast<std::uint16_t>(date.year());
    set.wMonth = static_cast<std::uint16_t>(date.month());
    set.wDayOfWeek = static_cast<std::uint16_t>(date.dayOfWeek() % 7);
    set.wDay = static_cast<std::uint16_t>(date.day());
    set.wHour = static_cast<std::uint16_t>(time.hour());
    set.wMinute = static_cast<std::uint16_t>(time.minute());
    set.wSecond = static_cast<std::uint16_t>(time.second());
    set.wMilliseconds = static_cast<std::uint16_t>(time.msec());
    if (m_clock.setUtc(set))
        finish(true, {}, false);
    else
        finish(false, QStringLiteral("The system refused to set the clock"), false);
}

} // namespace ostrelle
