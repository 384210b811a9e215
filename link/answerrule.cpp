#include "answerrule.h"

void AnswerRule::pollStarted()
{
    ++m_poll;
    m_pollFailed = false;
}

void AnswerRule::replied()
{
    m_missingSince.reset();
    m_verdict = Verdict::Answers;
}

void AnswerRule::missed()
{
    m_pollFailed = true;
    if (!m_missingSince)
        m_missingSince = m_poll;
    if (m_poll - *m_missingSince + 1 >= kFailedPollsForSilence)
        m_verdict = Verdict::Silent;
}
