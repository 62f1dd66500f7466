// doorlock-send: sends one door request to the door-lock interface by hand and prints the answer.
#include "DoorAnswerUnit.h"
#include "DoorClientUnit.h"
#include "DoorRequestTextUnit.h"
#include "DoorlockError.h"
#include "SendCommandLineUnit.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

enum TExitCode
{
    Success = 0,
    ResultNotSuccess = 1,
    NoAnswer = 2,
    Unreachable = 3,
    Usage = 64
};

void Write(FILE* stream, QByteArrayView bytes)
{
    std::fwrite(bytes.data(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void Write(FILE* stream, const QString& text)
{
    Write(stream, QByteArrayView(text.toUtf8()));
}

QByteArray ReadRawFile(const QString& path)
{
    QFile file;
    const bool opened = path == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened)
        throw DoorlockError(u"Could not open "_s + path + u": "_s + file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw DoorlockError(u"Could not read "_s + path + u": "_s + file.errorString());
    // The interface ends a request at its first NUL; the rest would be dropped unseen.
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0) {
        throw DoorlockError(path + u" holds a NUL byte at offset "_s + QString::number(nul) +
                            u"; a request ends at its first NUL byte, so it cannot be sent "
                            u"as one request."_s);
    }
    return bytes;
}

QByteArray RequestBody(const TSendCommandLine& commandLine)
{
    // Not read by the interface, but it shows in its log beside the request.
    const QString requestId = QDateTime::currentDateTime().toString(u"yyyyMMddhhmmsszzz"_s);
    switch (commandLine.Command) {
    case TSendCommandLine::TCommand::Issue: {
        QByteArray body = TDoorRequestText::IssueCard(requestId, commandLine.Issue);
        if (body.size() > TDoorRequestText::MaxBodyBytes) {
            throw DoorlockError(u"The request would be "_s + QString::number(body.size()) +
                                u" bytes long; the interface takes at most "_s +
                                QString::number(TDoorRequestText::MaxBodyBytes) + u'.');
        }
        return body;
    }
    case TSendCommandLine::TCommand::Read:
        return TDoorRequestText::Operation(u"ReadCard", requestId);
    case TSendCommandLine::TCommand::Erase:
        return TDoorRequestText::Operation(u"EraseCard", requestId);
    case TSendCommandLine::TCommand::Raw: {
        QByteArray body = ReadRawFile(commandLine.RawFile);
        if (body.size() > TDoorRequestText::MaxBodyBytes) {
            Write(stderr, u"doorlock-send: warning: the request is "_s +
                              QString::number(body.size()) +
                              u" bytes long; the interface takes "
                              u"at most "_s +
                              QString::number(TDoorRequestText::MaxBodyBytes) +
                              u" and will close the connection without an answer.\n"_s);
        }
        return body;
    }
    case TSendCommandLine::TCommand::Help:
        break;
    }
    return {};
}

int Run(const QStringList& arguments)
{
    TSendCommandLine commandLine;
    QByteArray body;
    try {
        commandLine = TSendCommandLine::Parse(arguments);
        if (commandLine.Command == TSendCommandLine::TCommand::Help) {
            Write(stdout, TSendCommandLine::Usage());
            return Success;
        }
        body = RequestBody(commandLine);
    } catch (const DoorlockError& error) {
        Write(stderr, u"doorlock-send: "_s + error.message() +
                          u"\nRun \"doorlock-send --help\" for the usage.\n"_s);
        return Usage;
    }

    if (commandLine.PrintRequest) {
        Write(stdout, u"Request (%1 bytes, then the NUL terminator):\n"_s.arg(body.size()));
        Write(stdout, QByteArrayView(body));
        if (!body.endsWith('\n'))
            Write(stdout, u"\n"_s);
        Write(stdout, u"\n"_s);
    }

    TDoorExchange exchange;
    try {
        exchange = TDoorClient(commandLine.Host, commandLine.Port, commandLine.TimeoutSeconds)
                       .Exchange(body);
    } catch (const DoorlockError& error) {
        Write(stderr, u"doorlock-send: "_s + error.message() + u'\n');
        return Unreachable;
    }

    if (!exchange.Answered) {
        Write(stderr, u"doorlock-send: The interface closed the connection without an answer "
                      u"(the request was not understood, or it failed before an answer could be "
                      u"given; see the interface's log).\n"_s);
        return NoAnswer;
    }
    if (!exchange.Terminated) {
        Write(stderr, u"doorlock-send: warning: the answer ended without its NUL terminator.\n"_s);
    }

    try {
        const TDoorAnswer answer = TDoorAnswer::Parse(exchange.Answer);
        Write(stdout, answer.Describe());
        return answer.Succeeded() ? Success : ResultNotSuccess;
    } catch (const DoorlockError& error) {
        Write(stderr,
              u"doorlock-send: The answer cannot be read: "_s + error.message() + u"\nIt was:\n"_s);
        Write(stderr, QByteArrayView(exchange.Answer));
        Write(stderr, u"\n"_s);
        return Unreachable;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    return Run(QCoreApplication::arguments());
}
