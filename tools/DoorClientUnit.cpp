#include "DoorClientUnit.h"

#include "DoorlockError.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

using namespace Qt::Literals::StringLiterals;

TDoorClient::TDoorClient(QString host, quint16 port, int timeoutSeconds)
    : m_host(std::move(host)), m_port(port), m_timeoutSeconds(timeoutSeconds)
{}

TDoorExchange TDoorClient::Exchange(QByteArrayView body) const
{
    const QString peer = m_host + u':' + QString::number(m_port);
    const QDeadlineTimer deadline(qint64(m_timeoutSeconds) * 1000);
    const auto remaining = [&deadline] { return int(deadline.remainingTime()); };
    const QString timeLimit = QString::number(m_timeoutSeconds) + u" seconds"_s;

    QTcpSocket socket;
    socket.connectToHost(m_host, m_port);
    if (!socket.waitForConnected(remaining())) {
        if (socket.error() == QAbstractSocket::SocketTimeoutError)
            throw DoorlockError(u"Could not connect to "_s + peer + u" within "_s + timeLimit +
                                u'.');
        throw DoorlockError(u"Could not connect to "_s + peer + u": "_s + socket.errorString());
    }

    QByteArray frame = body.toByteArray();
    frame.append('\0');
    socket.write(frame);

    QByteArray received;
    for (;;) {
        received += socket.readAll();
        const qsizetype terminator = received.indexOf('\0');
        if (terminator >= 0) {
            // Whatever follows the terminator is no part of this answer.
            received.truncate(terminator);
            return {true, true, received};
        }
        if (received.size() > MaxAnswerBytes) {
            throw DoorlockError(u"The answer from "_s + peer + u" is longer than "_s +
                                QString::number(MaxAnswerBytes) +
                                u" bytes without a NUL terminator; is this the door-lock "
                                u"interface?"_s);
        }
        if (socket.state() != QAbstractSocket::ConnectedState)
            break;
        const bool progressed = socket.bytesToWrite() > 0 ? socket.waitForBytesWritten(remaining())
                                                          : socket.waitForReadyRead(remaining());
        if (!progressed) {
            if (socket.error() == QAbstractSocket::RemoteHostClosedError)
                continue; // collects what is still buffered, then ends
            if (socket.error() == QAbstractSocket::SocketTimeoutError)
                throw DoorlockError(u"No answer from "_s + peer + u" within "_s + timeLimit + u'.');
            throw DoorlockError(u"The connection to "_s + peer + u" failed: "_s +
                                socket.errorString());
        }
    }
    return {!received.isEmpty(), false, received};
}
