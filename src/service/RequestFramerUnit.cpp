#include "RequestFramerUnit.h"

TRequestFramer::TState TRequestFramer::Feed(QByteArrayView chunk)
{
    if (m_state != TState::NeedMore)
        return m_state;

    // Earlier bytes were searched when they arrived; only the new ones can hold the terminator.
    const qsizetype terminator = chunk.indexOf('\0');
    if (terminator >= 0) {
        if (m_buffer.size() + terminator > MaxBodyLength) {
            m_state = TState::TooLong;
            m_buffer.clear();
        } else {
            m_buffer.append(chunk.first(terminator));
            m_state = TState::Complete;
        }
        return m_state;
    }

    // Checked before appending so a flood never grows the buffer past the limit.
    if (m_buffer.size() + chunk.size() > MaxBodyLength) {
        m_state = TState::TooLong;
        m_buffer.clear();
        return m_state;
    }
    m_buffer.append(chunk);
    return m_state;
}
