#include "RequestFramerUnit.h"

#include <QList>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype Max = TRequestFramer::MaxBodyLength;

// Splits the bytes into pieces of the given size (the last may be shorter).
QList<QByteArray> Pieces(const QByteArray& bytes, qsizetype pieceSize)
{
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < bytes.size(); at += pieceSize)
        pieces.append(bytes.mid(at, pieceSize));
    return pieces;
}

QByteArray Terminated(QByteArray body)
{
    body.append('\0');
    return body;
}

} // namespace

using TState = TRequestFramer::TState;
Q_DECLARE_METATYPE(TRequestFramer::TState)

class TestRequestFramer : public QObject
{
    Q_OBJECT

private slots:
    void frames_data();
    void frames();
    void ignoresBytesAfterTheOutcome();
};

void TestRequestFramer::frames_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<TState>("state");
    QTest::addColumn<QByteArray>("body");

    const QByteArray longest(Max, 'a');
    const QByteArray tooLong(Max + 1, 'a');

    QTest::newRow("short request") << QList{"<a/>\0"_ba} << TState::Complete << "<a/>"_ba;
    QTest::newRow("terminator first") << QList{"\0"_ba} << TState::Complete << QByteArray();
    QTest::newRow("terminator first, then more")
        << QList{"\0<a/>\0"_ba} << TState::Complete << QByteArray();
    QTest::newRow("bytes after the terminator ignored")
        << QList{"<a/>\0<b/>\0junk"_ba} << TState::Complete << "<a/>"_ba;
    QTest::newRow("CR LF kept") << QList{"<a/>\r\n\0"_ba} << TState::Complete << "<a/>\r\n"_ba;
    QTest::newRow("no terminator yet")
        << QList{"<a/>"_ba, "<b/>"_ba} << TState::NeedMore << "<a/><b/>"_ba;
    QTest::newRow("request in many pieces")
        << Pieces("<Request type=\"ReadCard\"></Request>\0"_ba, 3) << TState::Complete
        << "<Request type=\"ReadCard\"></Request>"_ba;

    QTest::newRow("longest body in one piece")
        << QList{Terminated(longest)} << TState::Complete << longest;
    QTest::newRow("longest body in many pieces")
        << Pieces(Terminated(longest), 1000) << TState::Complete << longest;
    QTest::newRow("longest body, terminator alone at byte 16385")
        << (Pieces(longest, 4096) << "\0"_ba) << TState::Complete << longest;
    QTest::newRow("longest body with more behind the terminator")
        << QList{Terminated(longest).append(100, 'z')} << TState::Complete << longest;

    QTest::newRow("body one too long in one piece")
        << QList{Terminated(tooLong)} << TState::TooLong << QByteArray();
    QTest::newRow("body one too long in many pieces")
        << Pieces(Terminated(tooLong), 1000) << TState::TooLong << QByteArray();
    QTest::newRow("body one too long, terminator alone")
        << (Pieces(tooLong, 4096) << "\0"_ba) << TState::TooLong << QByteArray();
    QTest::newRow("limit reached without terminator")
        << QList{longest} << TState::NeedMore << longest;
    QTest::newRow("limit passed without terminator")
        << QList{longest, "a"_ba} << TState::TooLong << QByteArray();
    QTest::newRow("flood without terminator")
        << QList{QByteArray(10 * Max, 'f')} << TState::TooLong << QByteArray();
}

void TestRequestFramer::frames()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(TState, state);
    QFETCH(QByteArray, body);

    TRequestFramer framer;
    for (const QByteArray& piece : pieces)
        framer.Feed(piece);
    QCOMPARE(framer.State(), state);
    if (state != TState::TooLong)
        QCOMPARE(framer.Body(), body);
}

void TestRequestFramer::ignoresBytesAfterTheOutcome()
{
    TRequestFramer complete;
    QCOMPARE(complete.Feed("<a/>\0"_ba), TState::Complete);
    QCOMPARE(complete.Feed("<b/>\0"_ba), TState::Complete);
    QCOMPARE(complete.Body(), "<a/>"_ba);

    TRequestFramer refused;
    QCOMPARE(refused.Feed(QByteArray(Max + 1, 'a')), TState::TooLong);
    QCOMPARE(refused.Feed("\0"_ba), TState::TooLong);
}

QTEST_GUILESS_MAIN(TestRequestFramer)
#include "tst_requestframer.moc"
