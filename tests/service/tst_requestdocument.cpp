#include "DoorlockError.h"
#include "ErrorOf.h"
#include "RequestDocumentUnit.h"

#include <QtTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// One letter per position kind, so a table row shows the shape of the root at a glance.
QString KindLetters(const TRequestDocument& document)
{
    QString letters;
    for (qsizetype i = 0; i < document.PositionCount(); ++i) {
        switch (document.PositionKind(i)) {
        case TRequestDocument::TNodeKind::Element:
            letters += u'E';
            break;
        case TRequestDocument::TNodeKind::Text:
            letters += u'T';
            break;
        case TRequestDocument::TNodeKind::Comment:
            letters += u'C';
            break;
        case TRequestDocument::TNodeKind::CData:
            letters += u'D';
            break;
        case TRequestDocument::TNodeKind::ProcessingInstruction:
            letters += u'P';
            break;
        case TRequestDocument::TNodeKind::Declaration:
            letters += u'X';
            break;
        }
    }
    return letters;
}

QStringList AllTexts(const TRequestDocument& document)
{
    QStringList texts;
    for (qsizetype i = 0; i < document.PositionCount(); ++i)
        texts << document.ElementText(i);
    return texts;
}

const QStringList IssueCardTexts = {u"1"_s,          u"R0001"_s,    u"00"_s,         u"01"_s,
                                    u"0101"_s,       u"张三"_s,     u"2024-03-05"_s, u"14:00:00"_s,
                                    u"2024-03-07"_s, u"12:00:00"_s, u"0"_s};

const QString IssueCardOneLine =
    u"<DoorRequest type=\"IssueCard\"><RequestID>1</RequestID><RegisterId>R0001</RegisterId>"
    u"<BuildingCode>00</BuildingCode><FloorCode>01</FloorCode><RoomNo>0101</RoomNo>"
    u"<GuestName>张三</GuestName><CheckInDate>2024-03-05</CheckInDate>"
    u"<CheckInTime>14:00:00</CheckInTime><CheckOutDate>2024-03-07</CheckOutDate>"
    u"<CheckOutTime>12:00:00</CheckOutTime><IsCopy>0</IsCopy></DoorRequest>"_s;

const QString IssueCardLaidOut = uR"(<?xml version="1.0" encoding="UTF-8"?>
<DoorRequest type="IssueCard">
    <RequestID>1</RequestID>
    <RegisterId>R0001</RegisterId>
	<BuildingCode>00</BuildingCode>
	<FloorCode>01</FloorCode>
    <RoomNo>0101</RoomNo>
    <GuestName>张三</GuestName>
    <CheckInDate>2024-03-05</CheckInDate>
    <CheckInTime>14:00:00</CheckInTime>
    <CheckOutDate>2024-03-07</CheckOutDate>
    <CheckOutTime>12:00:00</CheckOutTime>
    <IsCopy>0</IsCopy>
</DoorRequest>
)"_s;

QString Repeated(QStringView piece, qsizetype count)
{
    QString result;
    result.reserve(piece.size() * count);
    for (qsizetype i = 0; i < count; ++i)
        result += piece;
    return result;
}

} // namespace

class TestRequestDocument : public QObject
{
    Q_OBJECT

private slots:
    void positions_data();
    void positions();
    void references_data();
    void references();
    void typeAttribute_data();
    void typeAttribute();
    void rootSelection_data();
    void rootSelection();
    void failures_data();
    void failures();
    void failureMessageNamesThePlace();
    void missingPositionThrows();
    void deepNesting_data();
    void deepNesting();
};

void TestRequestDocument::positions_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("kinds");
    QTest::addColumn<QStringList>("texts");

    const QString elevenElements = u"EEEEEEEEEEE"_s;
    QTest::newRow("IssueCard on one line") << IssueCardOneLine << elevenElements << IssueCardTexts;
    QTest::newRow("IssueCard laid out with indentation")
        << IssueCardLaidOut << elevenElements << IssueCardTexts;

    QStringList shifted = IssueCardTexts;
    shifted.insert(3, u" floor follows "_s);
    QString withComment = IssueCardLaidOut;
    withComment.replace(u"\t<FloorCode>"_s, u"<!-- floor follows -->\n\t<FloorCode>"_s);
    QTest::newRow("comment between children shifts later positions")
        << withComment << u"EEECEEEEEEEE"_s << shifted;

    QTest::newRow("CDATA at a position yields its content raw")
        << u"<r><a>1</a><![CDATA[<x> &amp; ]]><b>2</b></r>"_s << u"EDE"_s
        << QStringList{u"1"_s, u"<x> &amp; "_s, u"2"_s};
    QTest::newRow("CDATA inside an element is not its text")
        << u"<r><a>pre<![CDATA[cd]]>post</a><b><![CDATA[only]]></b></r>"_s << u"EE"_s
        << QStringList{u"pre"_s, u""_s};
    QTest::newRow("element text stops at the first child element")
        << u"<r><a> head <b>inner</b> tail</a></r>"_s << u"E"_s << QStringList{u" head "_s};
    QTest::newRow("grandchildren take no position")
        << u"<r><a><b>1</b><c>2</c></a><d>3</d></r>"_s << u"EE"_s << QStringList{u""_s, u"3"_s};
    QTest::newRow("text after a child element takes a position")
        << u"<r><a>1</a> tail &lt;x&gt; <b>2</b></r>"_s << u"ETE"_s
        << QStringList{u"1"_s, u" tail <x> "_s, u"2"_s};
    QTest::newRow("text runs split by markup take a position each")
        << u"<r><a/>x<!--c-->y</r>"_s << u"ETCT"_s << QStringList{u""_s, u"x"_s, u"c"_s, u"y"_s};
    QTest::newRow("root text before the first child takes none")
        << u"<r>own text<a>1</a></r>"_s << u"E"_s << QStringList{u"1"_s};
    QTest::newRow("root with only its own text has no positions")
        << u"<r>own text</r>"_s << u""_s << QStringList{};
    QTest::newRow("control characters count as white space")
        << u"<r><a>1</a>\u0001\u001f\0<b>\t\0\u0007</b></r>"_s << u"EE"_s
        << QStringList{u"1"_s, u""_s};
    QTest::newRow("blanks and line breaks around a room number are kept")
        << u"<r><RoomNo>  0101  </RoomNo><RoomNo>\r\n\t0101\n</RoomNo></r>"_s << u"EE"_s
        << QStringList{u"  0101  "_s, u"\r\n\t0101\n"_s};
    QTest::newRow("element with only blanks is empty")
        << u"<r><a> \t\r\n </a><b></b></r>"_s << u"EE"_s << QStringList{u""_s, u""_s};
    QTest::newRow("self-closing elements are empty")
        << u"<r><Room/><Room /><Room no=\"1\"/></r>"_s << u"EEE"_s
        << QStringList{u""_s, u""_s, u""_s};
    QTest::newRow("attributes on children are ignored")
        << u"<r><a x=\"1>2\" y='/>' z=3>v</a></r>"_s << u"E"_s << QStringList{u"v"_s};
    QTest::newRow("close tags match without regard to case")
        << u"<Req><Room>1</ROOM><b>2</B ></req>"_s << u"EE"_s << QStringList{u"1"_s, u"2"_s};
    QTest::newRow("processing instruction yields target and data")
        << u"<r><a>1</a><?pi some > data?></r>"_s << u"EP"_s
        << QStringList{u"1"_s, u"pi some > data"_s};
    QTest::newRow("declaration yields what stands between <! and >")
        << u"<r><!ELEMENT x ANY><a>1</a></r>"_s << u"XE"_s
        << QStringList{u"ELEMENT x ANY"_s, u"1"_s};
    QTest::newRow("comment yields its content as written")
        << u"<r><!-- &lt; \n --><a>1</a></r>"_s << u"CE"_s << QStringList{u" &lt; \n "_s, u"1"_s};
    QTest::newRow("'>' in text is text")
        << u"<r><a>1 > 0</a></r>"_s << u"E"_s << QStringList{u"1 > 0"_s};
    QTest::newRow("'<' not followed by a name is text")
        << u"<r><a>1 < 2 <= 3 <</a></r>"_s << u"E"_s << QStringList{u"1 < 2 <= 3 <"_s};
}

void TestRequestDocument::positions()
{
    QFETCH(QString, request);
    QFETCH(QString, kinds);
    QFETCH(QStringList, texts);

    const TRequestDocument document = TRequestDocument::Parse(request);
    QCOMPARE(KindLetters(document), kinds);
    QCOMPARE(AllTexts(document), texts);
}

void TestRequestDocument::references_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("expected");

    QTest::newRow("the five named references") << u"&amp;&lt;&gt;&apos;&quot;"_s << u"&<>'\""_s;
    QTest::newRow("less-than in a value") << u"a&lt;b"_s << u"a<b"_s;
    QTest::newRow("hexadecimal") << u"&#x4E2D;"_s << u"中"_s;
    QTest::newRow("hexadecimal with capital X and small digits") << u"&#X4e2d;"_s << u"中"_s;
    QTest::newRow("decimal") << u"&#20013;"_s << u"中"_s;
    QTest::newRow("leading zeros") << u"&#x0041;&#0066;"_s << u"AB"_s;
    QTest::newRow("beyond U+FFFF gives a surrogate pair")
        << u"&#x1F600;&#128512;"_s << u"\U0001F600\U0001F600"_s;
    QTest::newRow("last code point") << u"&#x10FFFF;"_s << u"\U0010FFFF"_s;
    QTest::newRow("unknown name kept") << u"&unknown;"_s << u"&unknown;"_s;
    QTest::newRow("named references are case-sensitive") << u"&AMP;&Lt;"_s << u"&AMP;&Lt;"_s;
    QTest::newRow("no semicolon kept") << u"&amp &#65 x"_s << u"&amp &#65 x"_s;
    QTest::newRow("bare ampersands kept") << u"A & B && C &"_s << u"A & B && C &"_s;
    QTest::newRow("ampersand before a reference") << u"&&lt;"_s << u"&<"_s;
    QTest::newRow("hexadecimal digits missing kept") << u"&#xZZ;&#x;&#;"_s << u"&#xZZ;&#x;&#;"_s;
    QTest::newRow("decimal with a letter kept") << u"&#12a;&#-1;"_s << u"&#12a;&#-1;"_s;
    QTest::newRow("zero kept") << u"&#0;&#x0;"_s << u"&#0;&#x0;"_s;
    QTest::newRow("surrogate code points kept") << u"&#xD800;&#57343;"_s << u"&#xD800;&#57343;"_s;
    QTest::newRow("beyond U+10FFFF kept") << u"&#x110000;&#1114112;"_s << u"&#x110000;&#1114112;"_s;
    QTest::newRow("huge number kept")
        << u"&#99999999999999999999999999;"_s << u"&#99999999999999999999999999;"_s;
    QTest::newRow("only ASCII digits count") << u"&#١٢;"_s << u"&#١٢;"_s;
    // Blankness is judged on the text as written, so an encoded blank survives.
    QTest::newRow("encoded blank is not blank") << u"&#32;"_s << u" "_s;
}

void TestRequestDocument::references()
{
    QFETCH(QString, content);
    QFETCH(QString, expected);

    // The same rules hold for element text, text runs and attribute values.
    const TRequestDocument document = TRequestDocument::Parse(QString(
        u"<r v='"_s + content + u"'><a>"_s + content + u"</a><b/>"_s + content + u"</r>"_s));
    QCOMPARE(document.ElementText(0), expected);
    QCOMPARE(document.ElementText(2), expected);
    QCOMPARE(document.RootAttribute(u"v"), expected);
}

void TestRequestDocument::typeAttribute_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("double quotes") << u"<r type=\"IssueCard\"/>"_s << u"type"_s << u"IssueCard"_s;
    QTest::newRow("single quotes") << u"<r type='ReadCard'></r>"_s << u"type"_s << u"ReadCard"_s;
    QTest::newRow("blanks and line breaks around the value are kept")
        << u"<r type=\" \r\n IssueCard\t\n\"/>"_s << u"type"_s << u" \r\n IssueCard\t\n"_s;
    QTest::newRow("blanks around the equals sign")
        << u"<r\n  type \n=\t'EraseCard' />"_s << u"type"_s << u"EraseCard"_s;
    QTest::newRow("name in capitals in the request")
        << u"<r TYPE=\"IssueCard\"/>"_s << u"type"_s << u"IssueCard"_s;
    QTest::newRow("name asked in another case") << u"<r type=\"x\"/>"_s << u"Type"_s << u"x"_s;
    QTest::newRow("value case is kept")
        << u"<r type=\"issuecard\"/>"_s << u"type"_s << u"issuecard"_s;
    QTest::newRow("missing") << u"<r kind=\"IssueCard\"><a type=\"x\"/></r>"_s << u"type"_s
                             << u""_s;
    QTest::newRow("empty value") << u"<r type=\"\"/>"_s << u"type"_s << u""_s;
    QTest::newRow("references decoded")
        << u"<r type=\"Issue&#x43;ard&amp;&x;\"/>"_s << u"type"_s << u"IssueCard&&x;"_s;
    QTest::newRow("markup characters inside quotes")
        << u"<r a='x>y' type=\"a/>b\"><c/></r>"_s << u"type"_s << u"a/>b"_s;
    QTest::newRow("without quotes up to a blank")
        << u"<r type=IssueCard other=1></r>"_s << u"type"_s << u"IssueCard"_s;
    QTest::newRow("without quotes up to the end of the tag")
        << u"<r type=IssueCard/>"_s << u"type"_s << u"IssueCard"_s;
    QTest::newRow("the first of two wins") << u"<r type='A' TYPE='B'/>"_s << u"type"_s << u"A"_s;
    QTest::newRow("name without a value") << u"<r type other='x'/>"_s << u"type"_s << u""_s;
    QTest::newRow("stray quotes and slashes in the tag are passed over")
        << u"<r 'x' / = type='A'/>"_s << u"type"_s << u"A"_s;
    QTest::newRow("attributes of later elements are not the root's")
        << u"<?xml type='decl'?><r/><s type='late'/>"_s << u"type"_s << u""_s;
}

void TestRequestDocument::typeAttribute()
{
    QFETCH(QString, request);
    QFETCH(QString, name);
    QFETCH(QString, expected);

    QCOMPARE(TRequestDocument::Parse(request).RootAttribute(name), expected);
}

void TestRequestDocument::rootSelection_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("rootName");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("declaration, document type and comment before the root")
        << u"<?xml version=\"1.0\" encoding=\"GBK\"?>\n<!DOCTYPE DoorRequest SYSTEM \"a>b.dtd\">\n"
           u"<!-- from the PMS -->\n<DoorRequest><a>1</a></DoorRequest>"_s
        << u"DoorRequest"_s << QStringList{u"1"_s};
    QTest::newRow("document type with an internal subset")
        << u"<!DOCTYPE r [\n <!ELEMENT r ANY>\n <!ENTITY e \"a>]b\">\n <!-- ] > -->\n"
           u" <?pi ] > ?>\n]>\n<r><a>1</a></r>"_s
        << u"r"_s << QStringList{u"1"_s};
    QTest::newRow("byte order mark before the root")
        << u"\uFEFF"_s + IssueCardOneLine << u"DoorRequest"_s << IssueCardTexts;
    QTest::newRow("stray text and processing instruction before the root")
        << u"hello > there <?pi x?> a < b\n<r><a>1</a></r>"_s << u"r"_s << QStringList{u"1"_s};
    QTest::newRow("CDATA section before the root")
        << u"<![CDATA[<x>]]><r><a>1</a></r>"_s << u"r"_s << QStringList{u"1"_s};
    QTest::newRow("text and further elements after the root are not used")
        << u"<r><a>1</a></r> tail <s><b>2</b></S><!--c--><t/>"_s << u"r"_s << QStringList{u"1"_s};
    QTest::newRow("self-closing root has no positions")
        << u"<r type=\"IssueCard\"/><s><b>2</b></s>"_s << u"r"_s << QStringList{};
    QTest::newRow("root name of mixed case") << u"<dOOR-Request:x>x<a>1</a></DOOR-REQUEST:X>"_s
                                             << u"dOOR-Request:x"_s << QStringList{u"1"_s};
}

void TestRequestDocument::rootSelection()
{
    QFETCH(QString, request);
    QFETCH(QString, rootName);
    QFETCH(QStringList, texts);

    const TRequestDocument document = TRequestDocument::Parse(request);
    QCOMPARE(document.RootName(), rootName);
    QCOMPARE(AllTexts(document), texts);
}

void TestRequestDocument::failures_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("fragment");

    QTest::newRow("empty text") << u""_s << u"empty"_s;
    QTest::newRow("only blanks") << u" \r\n\t"_s << u"no element"_s;
    QTest::newRow("only a byte order mark") << u"\uFEFF"_s << u"no element"_s;
    QTest::newRow("only text") << u"IssueCard 0101"_s << u"no element"_s;
    QTest::newRow("only a declaration and a comment")
        << u"<?xml version=\"1.0\"?><!-- nothing -->"_s << u"no element"_s;
    QTest::newRow("close tag does not match")
        << u"<r><a>1</b></r>"_s << u"close tag </b> at line 1, column 8 does not match <a>"_s;
    QTest::newRow("tags cross") << u"<r><a><b></a></b></r>"_s << u"does not match <b>"_s;
    QTest::newRow("root closed by another name") << u"<r><a/></rr>"_s << u"does not match <r>"_s;
    QTest::newRow("root still open") << u"<r><a>1</a>"_s << u"element <r> opened"_s;
    QTest::newRow("child still open") << u"<r><a>1"_s << u"element <a> opened"_s;
    QTest::newRow("'<' alone") << u"<"_s << u"ends with '<'"_s;
    QTest::newRow("'<' at the very end inside the root") << u"<r><a>1</a><"_s << u"ends with '<'"_s;
    QTest::newRow("'<' at the very end after the root") << u"<r/><"_s << u"ends with '<'"_s;
    QTest::newRow("unterminated comment") << u"<r><!-- x</r>"_s << u"unterminated comment"_s;
    QTest::newRow("comment opener without closer")
        << u"<r><!--></r>"_s << u"unterminated comment"_s;
    QTest::newRow("unterminated CDATA section")
        << u"<r><![CDATA[x]]</r>"_s << u"unterminated CDATA section"_s;
    QTest::newRow("unterminated processing instruction")
        << u"<?xml version=\"1.0\"><r/>"_s << u"unterminated processing instruction"_s;
    QTest::newRow("unterminated declaration")
        << u"<!DOCTYPE r [ <!ELEMENT r ANY> <r/>"_s << u"unterminated declaration"_s;
    QTest::newRow("unterminated quote in a declaration")
        << u"<!DOCTYPE r SYSTEM \"x><r/>"_s << u"unterminated declaration"_s;
    QTest::newRow("'<!' at the end") << u"<r><!"_s << u"unterminated declaration"_s;
    QTest::newRow("unterminated start tag")
        << u"<r type=\"IssueCard\""_s << u"unterminated tag <r"_s;
    QTest::newRow("unterminated attribute value")
        << u"<r type=\"IssueCard></r>"_s << u"unterminated tag <r"_s;
    QTest::newRow("equals sign at the end") << u"<r type="_s << u"unterminated tag <r"_s;
    QTest::newRow("unterminated close tag") << u"<r></r"_s << u"unterminated close tag </r"_s;
    QTest::newRow("close tag before any element") << u"</r><r/>"_s << u"no open element"_s;
    QTest::newRow("close tag after the root") << u"<r></r></r>"_s << u"no open element"_s;
    QTest::newRow("element after the root still open") << u"<r/><s>"_s << u"element <s>"_s;
    QTest::newRow("mismatch after the root") << u"<r/><s></t>"_s << u"does not match <s>"_s;
}

void TestRequestDocument::failures()
{
    QFETCH(QString, request);
    QFETCH(QString, fragment);

    const QString message = ErrorOf([&] { TRequestDocument::Parse(request); });
    QVERIFY2(!message.isNull(), "the request was read");
    QVERIFY2(message.startsWith(u"The request is not readable XML: "_s), qPrintable(message));
    QVERIFY2(message.contains(fragment), qPrintable(message));
}

void TestRequestDocument::failureMessageNamesThePlace()
{
    const QString request = u"<r>\n  <a>1</a>\n  <b>2</B>\n  <c>3</d>\n</r>"_s;
    QCOMPARE(ErrorOf([&] { TRequestDocument::Parse(request); }),
             u"The request is not readable XML: close tag </d> at line 4, "
             u"column 7 does not match <c> opened at line 4, column 3"_s);

    const QString longName = Repeated(u"n", 100000);
    const QString message =
        ErrorOf([&] { TRequestDocument::Parse(QString(u"<"_s + longName + u"></x>"_s)); });
    QVERIFY2(!message.isNull(), "the request was read");
    // Names are cut short so a hostile request cannot blow up the message.
    QVERIFY2(message.size() < 200, qPrintable(message));
}

void TestRequestDocument::missingPositionThrows()
{
    QString tenPositions = IssueCardOneLine;
    tenPositions.remove(u"<IsCopy>0</IsCopy>"_s);
    const TRequestDocument document = TRequestDocument::Parse(tenPositions);
    QCOMPARE(document.PositionCount(), 10);
    QCOMPARE(document.ElementText(9), u"12:00:00"_s);
    QVERIFY_THROWS_EXCEPTION(DoorlockError, document.ElementText(10));
    QVERIFY_THROWS_EXCEPTION(DoorlockError, document.ElementText(-1));
    QVERIFY_THROWS_EXCEPTION(DoorlockError, document.PositionKind(10));
    QCOMPARE(ErrorOf([&] { document.ElementText(10); }),
             u"The request has no value at position 10: its root has 10 child nodes"_s);
}

void TestRequestDocument::deepNesting_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QStringList>("texts");

    constexpr qsizetype depth = 100000;
    const QString opens = Repeated(u"<a>", depth);
    const QString closes = Repeated(u"</a>", depth);
    QTest::newRow("closed") << u"<r><x>1</x>"_s + opens + u"deep"_s + closes + u"</r>"_s << true
                            << QStringList{u"1"_s, u""_s};
    QTest::newRow("closed with other case")
        << u"<r>"_s + opens + Repeated(u"</A>", depth) + u"<x>1</x></r>"_s << true
        << QStringList{u""_s, u"1"_s};
    QTest::newRow("left open") << u"<r>"_s + opens << false << QStringList{};
    QTest::newRow("mismatched at the bottom")
        << u"<r>"_s + opens + u"</b>"_s + closes + u"</r>"_s << false << QStringList{};
    QTest::newRow("many siblings")
        << u"<r>"_s + Repeated(u"<a>v</a><!--c-->", depth) + u"</r>"_s << true
        << QStringList(Repeated(u"v c ", depth).split(u' ', Qt::SkipEmptyParts));
}

void TestRequestDocument::deepNesting()
{
    QFETCH(QString, request);
    QFETCH(bool, readable);
    QFETCH(QStringList, texts);

    if (!readable) {
        QVERIFY_THROWS_EXCEPTION(DoorlockError, TRequestDocument::Parse(request));
        return;
    }
    QCOMPARE(AllTexts(TRequestDocument::Parse(request)), texts);
}

QTEST_GUILESS_MAIN(TestRequestDocument)
#include "tst_requestdocument.moc"
