#pragma once

#include <QByteArray>
#include <QString>
#include <utility>

// One accepted connection as the request handler sees it: the way back to the peer. The answer
// is framed at once and written by the listener when the handler returns; if the peer has gone by
// then, it is dropped without an error. Not thread-safe: it belongs to the one handler call that
// serves the connection.
class TConnection
{
public:
    TConnection() = default;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Queues the text as one framed answer (UTF-8 and the message terminator). Never fails.
    void SendResponse(const QString& text);

    // The framed bytes queued so far, for the listener.
    QByteArray TakeOutput() { return std::exchange(m_output, {}); }

private:
    QByteArray m_output;
};
