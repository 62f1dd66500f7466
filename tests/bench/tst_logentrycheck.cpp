#include "LogEntryCheckUnit.h"
#include "MixedRequestsUnit.h"

#include <QStringEncoder>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Request =
    u"<DoorRequest type=\"ReadCard\">\r\n    <RequestID>x</RequestID>\n</DoorRequest>\n"_s;

QByteArray Gbk(const QString& text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

QString Entry(const QString& stamp, const QString& text)
{
    return stamp + u' ' + text + u"\r\n"_s;
}

QString WholeRequest(const QString& stamp)
{
    return Entry(stamp, u"收到消息: \r\n"_s + Request) + Entry(stamp, u"执行操作->"_s) +
           Entry(stamp, u"读卡成功，卡号为：2030030712000801"_s) + Entry(stamp, u"完成一次操作"_s);
}

} // namespace

class TestLogEntryCheck : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void notGbk();
    void mixedRequestsAreDistinct();
};

void TestLogEntryCheck::check_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("torn");
    QTest::addColumn<int>("unknownRequests");
    QTest::addColumn<int>("outOfOrder");

    const QString a = u"2030-03-05 14:00:01"_s;
    const QString b = u"2030-03-05 14:00:02"_s;
    const QString whole = WholeRequest(a) + WholeRequest(b);
    QTest::newRow("empty log") << QString() << 0 << 0 << 0 << 0;
    QTest::newRow("whole entries, CR LF inside the request") << whole << 8 << 0 << 0 << 0;
    QTest::newRow("last entry missing, the one before whole")
        << whole.left(whole.lastIndexOf(b)) << 7 << 0 << 0 << 0;
    QTest::newRow("last entry cut before its CR LF") << whole.chopped(5) << 8 << 1 << 0 << 0;
    // A request cut short and the next entry run on after it: the request is not one sent.
    const QString cutRequest = Entry(a, u"收到消息: \r\n"_s + Request.left(20)) + WholeRequest(b);
    QTest::newRow("request cut short") << cutRequest << 5 << 0 << 1 << 0;
    QTest::newRow("stamp in the middle of a line")
        << Entry(a, u"执行操作->"_s + b + u" 完成一次操作"_s) << 1 << 1 << 0 << 0;
    QTest::newRow("two one-line entries run together")
        << Entry(a, u"执行操作->\r\n完成一次操作"_s) << 1 << 1 << 0 << 0;
    QTest::newRow("log starting inside an entry")
        << u"作->\r\n"_s + WholeRequest(a) << 5 << 1 << 0 << 0;
    QTest::newRow("stamps out of order") << WholeRequest(b) + WholeRequest(a) << 8 << 0 << 0 << 1;
}

void TestLogEntryCheck::check()
{
    QFETCH(QString, log);
    TLogEntryCheck checker;
    checker.AddKnownRequest(Request);
    const TLogCheckResult result = checker.Check(Gbk(log));
    QTEST(int(result.Entries), "entries");
    QTEST(int(result.Torn), "torn");
    QTEST(int(result.UnknownRequests), "unknownRequests");
    QTEST(int(result.OutOfOrder), "outOfOrder");
    QVERIFY(!result.BadEncoding);
}

void TestLogEntryCheck::notGbk()
{
    TLogEntryCheck checker;
    // A lead byte of a double-byte character with no trail byte: the file was cut in a character.
    const QByteArray bytes = Gbk(Entry(u"2030-03-05 14:00:01"_s, u"完成一次操作"_s)) + "\xD5";
    const TLogCheckResult result = checker.Check(bytes);
    QVERIFY(result.BadEncoding);
    QVERIFY(!result.Whole());
}

void TestLogEntryCheck::mixedRequestsAreDistinct()
{
    // The log check tells requests apart by their text: every kind's texts must differ.
    QSet<std::string> seen;
    int total = 0;
    for (const auto& kind : MixedRequests::Kinds(4)) {
        for (const std::string& text : kind.Texts) {
            seen.insert(text);
            ++total;
        }
    }
    QCOMPARE(seen.size(), total);
    auto kinds = MixedRequests::Kinds(4);
    MixedRequests::ApplyMix(kinds, "new=3,bad=1");
    QCOMPARE(kinds[0].Share, 3);
    QCOMPARE(kinds[2].Share, 0);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, MixedRequests::ApplyMix(kinds, "old=1"));
}

QTEST_GUILESS_MAIN(TestLogEntryCheck)
#include "tst_logentrycheck.moc"
