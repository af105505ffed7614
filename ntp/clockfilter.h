#pragma once

#include "ntp/serverexchange.h"

#include <QList>

namespace ostrelle {

// What a server's several samples of one poll come to.
struct FilteredSamples
{
    qsizetype chosen = -1;      // index of the least disturbed sample; -1 when none answered
    double offsetSeconds = 0.0; // the offset to believe (the chosen sample's when none answered)
    double jitterSeconds = 0.;  // RMS distance of the other answers' offsets from offsetSeconds
    int answered = 0;           // answers with the server's timestamps among the samples
};

// The clock filter of RFC 5905 over one server's samples: queueing on the path only ever adds
// delay, and the least delayed sample is the one whose offset the path disturbed least, so the
// answered sample with the least round trip is chosen (the later one on a tie). An older sample
// counts as if delayed by what our clock may have drifted since (LocalClockDrift per second from
// its arrival to now, both NtpSeconds), so a fresh sample soon wins over a stale one.
// Each answer also proves that the true offset lies within half its round trip (plus that drift)
// of its own: neither leg of the trip can have taken less than nothing. The offset believed is
// the middle of the span every answer allows, which lies inside the chosen sample's own span and
// draws on the quickest outbound and the quickest return leg even where no single sample had
// both; where the spans do not overlap (a clock stepped between samples) it is the chosen one's.
// The spread of the answers around it is the server's jitter. Lost or late samples only lower
// the count; a server whose answers all lack timestamps has its last answer chosen, for its reasons.
FilteredSamples FilterSamples(const QList<PollStep>& samples, double now);

// The step a poll of several samples comes to (samples must not be empty): the chosen sample, its
// offset the one to believe, with the jitter and the count of answers beside it; the last sample
// when none answered.
PollStep FilteredStep(const QList<PollStep>& samples, double now);

} // namespace ostrelle
