// Fills a history database with a day of one-minute passes of the given servers, ending now, as
// loopback servers would have left it: small drifting offsets, a few slow round trips, a time-out
// now and then, and one server that asks to slow down for a while. For pictures of the view.
//
//   history_day DATABASE SERVER...

#include "history/historystore.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

using namespace ostrelle;
using namespace std::chrono_literals;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() < 2) {
        std::fputs("usage: history_day DATABASE SERVER...\n", stderr);
        return 2;
    }
    HistoryStore store(arguments.first(), [](const QString& message) {
        std::fprintf(stderr, "history_day: %s\n", qPrintable(message));
    });
    if (!store.open())
        return 1;

    std::mt19937_64 random(13);
    std::normal_distribution<double> noise(0.0, 0.00015);
    std::exponential_distribution<double> queueing(1.0 / 0.00008);
    std::uniform_int_distribution<int> roll(0, 999);
    const QStringList servers = arguments.mid(1);
    const auto end = std::chrono::time_point_cast<HistoryTime::duration>(std::chrono::system_clock::now());
    constexpr int Passes = 24 * 60;
    for (int pass = 0; pass < Passes; ++pass) {
        const HistoryTime time = end - (Passes - pass) * 1min;
        const double hours = pass / 60.0;
        QList<HistorySample> samples;
        for (int i = 0; i < servers.size(); ++i) {
            HistorySample s;
            s.time = time + i * 2ms;
            s.server = servers[i];
            const int r = roll(random);
            if (r < 8) {
                s.outcome = PollOutcome::TimedOut;
            } else if (i == 1 && hours > 15.0 && hours < 15.5) {
                s.outcome = PollOutcome::KissOfDeath;
                s.detail = QStringLiteral("RATE");
            } else {
                s.stratum = i + 1;
                s.referenceId = i == 0 ? std::array<std::uint8_t, 4>{'G', 'P', 'S', 0}
                                       : std::array<std::uint8_t, 4>{127, 0, 0, std::uint8_t(i + 1)};
                // A daily swing of the local oscillator, each server a little apart.
                s.offset =
                    0.0012 * std::sin(hours / 24.0 * 2 * std::numbers::pi + i) + 0.0003 * i + noise(random);
                s.roundTrip = 0.00025 + queueing(random) + (r > 990 ? 0.004 : 0.0);
                s.rootDelay = 0.0001 * i;
                s.rootDispersion = 0.00002 * (i + 1);
            }
            samples << s;
        }
        if (!store.append(samples))
            return 1;
    }
    std::printf("%lld samples of %lld servers in %s\n", qlonglong(Passes) * servers.size(),
                qlonglong(servers.size()), qPrintable(arguments.first()));
    return 0;
}
