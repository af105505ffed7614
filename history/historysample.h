#pragma once

#include "ntp/polloutcome.h"

#include <QString>
#include <array>
#include <chrono>
#include <cstdint>

namespace ostrelle {

using HistoryTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

// One poll of one server, kept at full precision. The figures after detail mean something only
// for an answer; times and durations are in seconds.
struct HistorySample
{
    HistoryTime time{};
    QString server;
    QString address; // the address a name was polled at (one of a pool's); empty for an address literal
    PollOutcome outcome = PollOutcome::Answered;
    QString detail; // the outcome's reason
    int stratum = 0;
    int leap = 0;
    std::array<std::uint8_t, 4> referenceId{};
    double offset = 0.0; // positive when the local clock is behind the server
    double roundTrip = 0.0;
    double rootDelay = 0.0;
    double rootDispersion = 0.0;

    bool answered() const { return outcome == PollOutcome::Answered; }
    friend bool operator==(const HistorySample&, const HistorySample&) = default;
};

} // namespace ostrelle
