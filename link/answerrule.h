#pragma once

#include <QtGlobal>

#include <optional>

// Whether one instrument answers, by the rule that tells an imperfect line
// from an outage. An exchange without a reply makes its poll a failed one
// (counted), but the instrument is taken as silent only when exchanges of two
// polls in a row went unanswered with no reply between them. A line that
// loses one request in ten, or a slow instrument that misses now and then,
// never makes an outage; an instrument that falls silent is found within two
// polls and one time-out (about 1.1 s at 9600 bit/s).
//
// Verdicts and the function behind each transition:
//   Unknown           --replied()-->                               Answers
//   Unknown, Answers  --missed() in the second poll of a run of
//                       misses with no reply between-->            Silent
//   Silent            --replied()-->                               Answers
//   Unknown, Answers  --missed() in the first poll of a run-->     unchanged
// pollStarted() changes no verdict: it only tells the polls apart.
class AnswerRule
{
public:
    // Polls in a row with an unanswered exchange that make the instrument silent.
    static constexpr int kFailedPollsForSilence = 2;

    enum class Verdict {
        Unknown, // no exchange with it has ended yet
        Answers,
        Silent,
    };

    // A new poll of the instrument begins.
    void pollStarted();
    // An exchange of the current poll got a reply: the data or an exception.
    void replied();
    // An exchange of the current poll got none (time-out, damaged frame, ...).
    void missed();

    Verdict verdict() const { return m_verdict; }
    // Whether an exchange of the current poll went unanswered already.
    bool pollFailed() const { return m_pollFailed; }

private:
    qint64 m_poll = 0;
    // The poll in which the current run of unanswered exchanges began.
    std::optional<qint64> m_missingSince;
    bool m_pollFailed = false;
    Verdict m_verdict = Verdict::Unknown;
};
