#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The one error type of the system: a message text, shown or logged as it stands.
class DoorlockError : public std::exception
{
public:
    explicit DoorlockError(QString message);

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};
