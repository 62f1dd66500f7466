#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Cuts one request body out of the bytes a peer sends, up to the message terminator (one 0x00
// byte), within the length limit. Fed with whatever each read returned, so the same request
// gives the same outcome whether it arrives in one piece or in many. Not thread-safe: one per
// connection, used by the thread that reads it.
class TRequestFramer
{
public:
    static constexpr qsizetype MaxBodyLength = 16384;

    enum class TState
    {
        NeedMore, // no terminator yet, limit not passed
        Complete, // Body() holds the request; later bytes are ignored
        TooLong,  // limit passed: the connection gets no answer
    };

    // Takes newly arrived bytes. Once the state is final, further bytes change nothing.
    TState Feed(QByteArrayView chunk);

    TState State() const { return m_state; }

    // The body without its terminator, once Complete.
    const QByteArray& Body() const { return m_buffer; }

private:
    QByteArray m_buffer;
    TState m_state = TState::NeedMore;
};
