#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// What came back for one request.
struct TDoorExchange
{
    // False when the interface closed the connection before sending a single byte.
    bool Answered = false;
    // False when the stream ended before the NUL terminator of the answer.
    bool Terminated = false;
    // The answer's bytes before the terminator.
    QByteArray Answer;
};

// Sends one request over a fresh TCP connection and reads its answer, blocking, under one
// time limit for the whole exchange. Needs no event loop.
// Each exchange uses a socket of its own: thread-safe.
class TDoorClient
{
public:
    // An answer is a few hundred bytes; anything far longer is not the interface talking.
    static constexpr qsizetype MaxAnswerBytes = 1024 * 1024;

    TDoorClient(QString host, quint16 port, int timeoutSeconds);

    // Sends the body and one NUL byte, then reads up to the answer's NUL or the end of the
    // stream. Throws DoorlockError when no connection can be made, the time runs out, the
    // connection fails other than by being closed, or the answer grows beyond MaxAnswerBytes.
    TDoorExchange Exchange(QByteArrayView body) const;

private:
    QString m_host;
    quint16 m_port;
    int m_timeoutSeconds;
};
