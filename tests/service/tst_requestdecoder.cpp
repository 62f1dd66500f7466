#include "RequestDecoderUnit.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestRequestDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void encodesResponse_data();
    void encodesResponse();
    void roundTripsWhatItDecodes();
};

void TestRequestDecoder::decodes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty body") << QByteArray() << QString();
    QTest::newRow("ascii") << "<Request type=\"ReadCard\"/>"_ba
                           << u"<Request type=\"ReadCard\"/>"_s;
    QTest::newRow("two-byte") << "caf\xC3\xA9 \xC2\xB0"_ba << u"caf\u00E9 \u00B0"_s;
    QTest::newRow("three-byte chinese") << "\xE5\xBC\xA0\xE4\xB8\x89"_ba << u"张三"_s;
    QTest::newRow("byte order mark kept") << "\xEF\xBB\xBF<a/>"_ba << u"\uFEFF<a/>"_s;
    QTest::newRow("CR LF kept") << "<a/>\r\n"_ba << u"<a/>\r\n"_s;
    QTest::newRow("four-byte emoji") << "x\xF0\x9F\x98\x80y"_ba << u"x\U0001F600y"_s;
    QTest::newRow("four-byte U+20000") << "\xF0\xA0\x80\x80"_ba << u"\U00020000"_s;
    QTest::newRow("four-byte U+10FFFF") << "\xF4\x8F\xBF\xBF"_ba << u"\U0010FFFF"_s;

    // Leniencies peers may rely on: the lead byte only says how many bytes follow.
    QTest::newRow("0x80 lead with one continuation") << "a\x80\x80z"_ba << u"a\0z"_s;
    QTest::newRow("0x9F lead with one continuation") << "\x9F\xBF"_ba << u"\u07FF"_s;
    QTest::newRow("overlong two-byte accepted") << "\xC1\x81"_ba << u"A"_s;
    QTest::newRow("lone surrogate accepted") << "\xED\xA0\x80"_ba << QString(QChar(0xD800));
    QTest::newRow("0xF8 lead takes two continuations, 16 bits kept")
        << "\xF8\x88\x80"_ba << QString(QChar(0x8200));

    QTest::newRow("broken continuation") << "ab\xC3\x41"_ba << QString();
    QTest::newRow("broken second continuation") << "\xE5\xBC\x41xyz"_ba << QString();
    QTest::newRow("cut off after lead") << "abc\xC3"_ba << QString();
    QTest::newRow("cut off three-byte") << "abc\xE5\xBC"_ba << QString();
    QTest::newRow("broken four-byte") << "\xF0\x9F\x41\x80 tail"_ba << QString();
    QTest::newRow("cut off four-byte") << "abc\xF0\x9F\x98"_ba << QString();
    QTest::newRow("four-byte beyond U+10FFFF") << "\xF4\x90\x80\x80"_ba << QString();
    QTest::newRow("0xF7 lead beyond U+10FFFF") << "\xF7\xBF\xBF\xBF"_ba << QString();
    QTest::newRow("overlong four-byte") << "\xF0\x8F\xBF\xBF"_ba << QString();
    QTest::newRow("a good request with one broken byte")
        << "<Request type=\"IssueCard\"><Name>\xE5\xBC</Name></Request>"_ba << QString();
}

void TestRequestDecoder::decodes()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    const QString text = DecodeRequest(body);
    QCOMPARE(text, expected);
    QCOMPARE(text.isEmpty(), expected.isEmpty());
}

void TestRequestDecoder::encodesResponse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << QString() << QByteArray(1, '\0');
    QTest::newRow("ascii") << u"<DoorResponse/>"_s << "<DoorResponse/>\0"_ba;
    QTest::newRow("chinese") << u"发卡成功"_s
                             << "\xE5\x8F\x91\xE5\x8D\xA1\xE6\x88\x90\xE5\x8A\x9F\0"_ba;
    QTest::newRow("two-byte") << u"\u00E9\u07FF"_s << "\xC3\xA9\xDF\xBF\0"_ba;
    QTest::newRow("surrogate pair as four bytes") << u"\U0001F600"_s << "\xF0\x9F\x98\x80\0"_ba;
    QTest::newRow("lone surrogate as three bytes") << QString(QChar(0xD800)) << "\xED\xA0\x80\0"_ba;
}

void TestRequestDecoder::encodesResponse()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    QCOMPARE(EncodeResponse(text), bytes);
}

void TestRequestDecoder::roundTripsWhatItDecodes()
{
    const QByteArray body = "<a>\xE5\xBC\xA0\xF0\xA0\x80\x80\xC3\xA9\r\n</a>"_ba;
    QCOMPARE(EncodeResponse(DecodeRequest(body)), body + QByteArray(1, '\0'));
}

QTEST_GUILESS_MAIN(TestRequestDecoder)
#include "tst_requestdecoder.moc"
