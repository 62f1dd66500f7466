#pragma once

#include <QByteArrayView>
#include <QString>

// One DoorResponse as the interface sends it, read from the bytes before its NUL terminator.
// A plain value: thread-safe for concurrent reads.
class TDoorAnswer
{
public:
    // Throws DoorlockError when the bytes are not UTF-8, not a DoorResponse document, lack one
    // of its four fields or carry a card number that is not a 64-bit decimal integer.
    static TDoorAnswer Parse(QByteArrayView bytes);

    bool Succeeded() const { return ResultCode == u"200"; }
    // One "Name: value" line per field. The texts are quoted so that blanks at their ends show.
    QString Describe() const;

    QString RequestID;
    QString ResultCode;
    QString ResultMessage;
    QString CardNo;
};
