#include "SendCommandLineUnit.h"

#include "DoorlockError.h"

#include <QCommandLineParser>
#include <QDate>
#include <QRegularExpression>
#include <QTime>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TDateAndTime
{
    QString Date;
    QString Time;
};

// Splits "YYYY-MM-DD HH:MM[:SS]" at the blank. The interface reads more forms than this, but
// support staff are better served by one form checked strictly than by a card for a stay they
// did not mean.
TDateAndTime SplitDateTime(const QString& option, const QString& text)
{
    static const QRegularExpression form(
        u"^(\\d{4})-(\\d{2})-(\\d{2}) ((\\d{2}):(\\d{2})(?::(\\d{2}))?)$"_s);
    const QRegularExpressionMatch match = form.match(text);
    const auto number = [&match](int group) { return match.captured(group).toInt(); };
    if (!match.hasMatch() || !QDate(number(1), number(2), number(3)).isValid() ||
        !QTime(number(5), number(6), number(7)).isValid()) {
        throw DoorlockError(u"--"_s + option + u" \""_s + text +
                            u"\" is not a date and time of the form \"YYYY-MM-DD HH:MM\" or "
                            u"\"YYYY-MM-DD HH:MM:SS\"."_s);
    }
    return {text.left(10), match.captured(4)};
}

int NumberInRange(const QString& option, const QString& text, int lowest, int highest)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < lowest || value > highest) {
        throw DoorlockError(u"--"_s + option + u" \""_s + text +
                            u"\" is not a whole number from "_s + QString::number(lowest) +
                            u" to "_s + QString::number(highest) + u'.');
    }
    return value;
}

} // namespace

TSendCommandLine TSendCommandLine::Parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QStringList valueOptions = {u"host"_s,     u"port"_s,    u"timeout"_s, u"room"_s,
                                      u"building"_s, u"floor"_s,   u"guest"_s,   u"checkin"_s,
                                      u"checkout"_s, u"register"_s};
    const QStringList flagOptions = {u"print-request"_s, u"copy"_s};
    for (const QString& name : valueOptions)
        parser.addOption(QCommandLineOption(name, QString(), u"value"_s));
    for (const QString& name : flagOptions)
        parser.addOption(QCommandLineOption(name));
    parser.addOption(QCommandLineOption(QStringList{u"h"_s, u"help"_s}));
    if (!parser.parse(arguments))
        throw DoorlockError(parser.errorText());

    TSendCommandLine commandLine;
    if (parser.isSet(u"help"_s))
        return commandLine;

    // A repeated option is most likely a slip; better to ask than to guess which one was meant.
    for (const QString& name : valueOptions + flagOptions) {
        if (parser.optionNames().count(name) > 1)
            throw DoorlockError(u"--"_s + name + u" is given more than once."_s);
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        throw DoorlockError(u"No command given: use issue, read, erase or raw."_s);
    const QString& command = positional.first();
    if (command == u"issue")
        commandLine.Command = TCommand::Issue;
    else if (command == u"read")
        commandLine.Command = TCommand::Read;
    else if (command == u"erase")
        commandLine.Command = TCommand::Erase;
    else if (command == u"raw")
        commandLine.Command = TCommand::Raw;
    else
        throw DoorlockError(u"Unknown command \""_s + command +
                            u"\": use issue, read, erase or raw."_s);

    if (commandLine.Command == TCommand::Raw) {
        if (positional.size() != 2)
            throw DoorlockError(u"raw needs exactly one FILE (\"-\" for standard input)."_s);
        commandLine.RawFile = positional.at(1);
    } else if (positional.size() > 1) {
        throw DoorlockError(u"Unexpected argument \""_s + positional.at(1) + u"\"."_s);
    }

    if (parser.isSet(u"host"_s)) {
        commandLine.Host = parser.value(u"host"_s);
        if (commandLine.Host.isEmpty())
            throw DoorlockError(u"--host must not be empty."_s);
    }
    if (parser.isSet(u"port"_s))
        commandLine.Port = quint16(NumberInRange(u"port"_s, parser.value(u"port"_s), 1, 65535));
    if (parser.isSet(u"timeout"_s)) {
        commandLine.TimeoutSeconds =
            NumberInRange(u"timeout"_s, parser.value(u"timeout"_s), 1, 24 * 60 * 60);
    }
    commandLine.PrintRequest = parser.isSet(u"print-request"_s);

    const QStringList issueOptions = {u"room"_s,    u"building"_s, u"floor"_s, u"guest"_s,
                                      u"checkin"_s, u"checkout"_s, u"copy"_s,  u"register"_s};
    if (commandLine.Command != TCommand::Issue) {
        for (const QString& name : issueOptions) {
            if (parser.isSet(name))
                throw DoorlockError(u"--"_s + name + u" belongs to the issue command only."_s);
        }
        return commandLine;
    }

    // Building and floor are part of the room's key at the interface, so they are asked for even
    // where they are empty; only the room number itself must hold something.
    for (const QString& name :
         {u"building"_s, u"floor"_s, u"room"_s, u"guest"_s, u"checkin"_s, u"checkout"_s}) {
        if (!parser.isSet(name))
            throw DoorlockError(u"issue needs --"_s + name + u'.');
    }
    TIssueCardFields& issue = commandLine.Issue;
    issue.RegisterId = parser.value(u"register"_s);
    issue.BuildingCode = parser.value(u"building"_s);
    issue.FloorCode = parser.value(u"floor"_s);
    issue.RoomNo = parser.value(u"room"_s);
    if (issue.RoomNo.isEmpty())
        throw DoorlockError(u"--room must not be empty."_s);
    issue.GuestName = parser.value(u"guest"_s);
    const TDateAndTime checkIn = SplitDateTime(u"checkin"_s, parser.value(u"checkin"_s));
    const TDateAndTime checkOut = SplitDateTime(u"checkout"_s, parser.value(u"checkout"_s));
    issue.CheckInDate = checkIn.Date;
    issue.CheckInTime = checkIn.Time;
    issue.CheckOutDate = checkOut.Date;
    issue.CheckOutTime = checkOut.Time;
    issue.IsCopy = parser.isSet(u"copy"_s);
    return commandLine;
}

QString TSendCommandLine::Usage()
{
    return uR"(Sends one door request to the door-lock interface and prints its answer.

Usage:
  doorlock-send issue --building CODE --floor CODE --room NUMBER --guest NAME
                      --checkin "YYYY-MM-DD HH:MM[:SS]" --checkout "YYYY-MM-DD HH:MM[:SS]"
                      [--copy] [--register ID] [options]
  doorlock-send read [options]
  doorlock-send erase [options]
  doorlock-send raw FILE [options]       send FILE's bytes unchanged ("-" reads standard input)

Options:
  --host HOST          the interface's host (default 127.0.0.1)
  --port PORT          the interface's port (default 8886)
  --timeout SECONDS    give up when no answer came within this time (default 30)
  --print-request      show the request before it is sent
  -h, --help           show this text

Issue options:
  --copy               issue a copy card for a room whose guest already holds a card
  --register ID        the registration id kept with the issue record (default empty)

Exit status:
  0   the answer's ResultCode is 200
  1   the answer's ResultCode is anything else (500: the encoder failed)
  2   the interface closed the connection without an answer
  3   no connection, no answer in time, or an answer that cannot be read
  64  the command line is not usable
)"_s;
}
