#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace ostrelle {

// Seconds as a double: the unit of offsets, delays and error bounds in the agreement check.
using AgreementSeconds = std::chrono::duration<double>;

// A candidate whose root distance is above this says nothing useful about the time.
inline constexpr AgreementSeconds MaxRootDistance{1.5};
// The least delay a root distance assumes: no path is trusted to be faster than 10 ms, so that
// servers on a LAN whose replies carry no root delay or dispersion still have intervals wide
// enough to agree by a few milliseconds.
inline constexpr AgreementSeconds MinDispersion{0.01};
// The frequency error allowed to our own clock between the sample and the end of the pass.
inline constexpr double LocalClockDrift = 15e-6;

// One reply of the pass that may set the clock (leap 0, usable stratum, timestamps present).
struct AgreementCandidate
{
    int row = 0;
    int stratum = 0;
    AgreementSeconds offset{};         // positive when the local clock is behind the server
    AgreementSeconds roundTrip{};      // our round trip less the server's hold time
    AgreementSeconds rootDelay{};      // the reply's root delay field
    AgreementSeconds rootDispersion{}; // the reply's root dispersion field
    AgreementSeconds precision{};      // the reply's precision field
    AgreementSeconds age{};            // from the reply's arrival to the end of the pass
    AgreementSeconds jitter{};         // spread of the server's recent offsets; 0 with one sample
};

enum class AgreementVerdict {
    Truechimer,  // holds the point that a majority of the candidates share
    Falseticker, // a majority exists and this candidate's interval misses it
    Undecided,   // no majority: nobody can be told right or wrong
    TooDistant,  // root distance above MaxRootDistance (or not a finite number): not counted
};

struct CandidateAgreement
{
    AgreementVerdict verdict = AgreementVerdict::Undecided;
    AgreementSeconds rootDistance{}; // half-width of the candidate's correctness interval
};

enum class NoClockSource {
    None,        // a source was chosen
    NoCandidate, // no candidate within the root distance limit
    NoMajority,  // no point shared by more than half of the counted candidates
};

struct AgreementResult
{
    std::vector<CandidateAgreement> candidates; // in the order given
    std::optional<std::size_t> chosen;          // index of the clock source among the candidates
    NoClockSource why = NoClockSource::None;
    int agreeing = 0; // candidates holding the shared point (the largest such set)
    int counted = 0;  // candidates within the root distance limit
};

// Root distance of a candidate in seconds: half the root delay and round trip (together never less
// than MinDispersion), the root dispersion, the jitter, and our own measurement error (clock
// resolution, server precision, LocalClockDrift over the age). Negative parts count as zero.
// Infinity when any part is not a finite number.
AgreementSeconds RootDistance(const AgreementCandidate& candidate, AgreementSeconds clockResolution);

// Agreement of the pass's candidates: each interval is offset ± root distance; the largest set of
// intervals sharing a point (endpoints that only touch count as shared) are the truechimers when
// they are more than half of the counted candidates. When the largest size is reached at two
// separate points, neither is a majority of agreeing servers, so the clock is not set. Among the
// truechimers the source is the lowest stratum, then the smallest absolute offset, then the
// earliest given.
AgreementResult EvaluateAgreement(std::span<const AgreementCandidate> candidates,
                                  AgreementSeconds clockResolution);

} // namespace ostrelle
