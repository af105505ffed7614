#pragma once

#include "ntp/serverexchange.h"

#include <QList>

namespace ostrelle {

// What a server's several samples of one poll come to.
struct FilteredSamples
{
    qsizetype chosen = -1;     // index of the sample to believe; -1 when none answered
    double jitterSeconds = 0.; // RMS distance of the other answers' offsets from the chosen one's
    int answered = 0;          // answers with the server's timestamps among the samples
};

// The clock filter of RFC 5905 over one server's samples: queueing on the path only ever adds
// delay, and the least delayed sample is the one whose offset the path disturbed least. So the
// answered sample with the least round trip is believed (the later one on a tie), and the spread
// of the others around it is the server's jitter. An older sample counts as if delayed by what
// our clock may have drifted since (LocalClockDrift per second from its arrival to now, both
// NtpSeconds), so a fresh sample soon wins over a stale one. Lost or late samples only lower the
// count; a server whose answers all lack timestamps has its last answer chosen, for its reasons.
FilteredSamples FilterSamples(const QList<PollStep>& samples, double now);

} // namespace ostrelle
