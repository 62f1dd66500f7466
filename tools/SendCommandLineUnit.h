#pragma once

#include "DoorRequestTextUnit.h"

#include <QString>
#include <QStringList>

// The command line of doorlock-send, checked in full before anything is sent.
// A plain value: thread-safe for concurrent reads.
class TSendCommandLine
{
public:
    enum class TCommand
    {
        Help,
        Issue,
        Read,
        Erase,
        Raw
    };

    // The arguments as QCoreApplication::arguments() gives them, the program first. Throws
    // DoorlockError with a message for the user when they are not usable.
    static TSendCommandLine Parse(const QStringList& arguments);
    static QString Usage();

    TCommand Command = TCommand::Help;
    QString Host = QStringLiteral("127.0.0.1");
    quint16 Port = 8886;
    // A card write on a real encoder takes a few seconds.
    int TimeoutSeconds = 30;
    bool PrintRequest = false;
    // Issue only.
    TIssueCardFields Issue;
    // Raw only: the file to send, "-" for standard input.
    QString RawFile;
};
