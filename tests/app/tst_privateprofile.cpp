#include "ErrorOf.h"
#include "PrivateProfile.h"
#include "TempIniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <climits>
#include <memory>

using namespace Qt::Literals::StringLiterals;

class TestPrivateProfile : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void readString_data();
    void readString();
    void readMissingFile();
    void readLongValue_data();
    void readLongValue();
    void readInteger_data();
    void readInteger();
    void readBool_data();
    void readBool();

    void write_data();
    void write();
    void writeCreatesMissingFile();
    void writeIntegerAndBool();
    void gbkRoundTrip();
    void awkwardValuesRoundTrip_data();
    void awkwardValuesRoundTrip();
    void refusedWrites_data();
    void refusedWrites();
    void folderInPlaceOfFile();
    void pathUnderMissingFolder();
    void fileIsReadAfreshOnEveryCall();

private:
    std::unique_ptr<TTempIniFile> m_ini;
};

void TestPrivateProfile::init()
{
    m_ini = std::make_unique<TTempIniFile>();
    QVERIFY(m_ini->Dir.isValid());
}

void TestPrivateProfile::readString_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");

    // Every row reads the key Key of the section Sec.
    const QString def = u"<default>"_s;
    QTest::newRow("plain") << "[Sec]\r\nKey=value\r\n"_ba << u"value"_s;
    QTest::newRow("section name in other case") << "[sEC]\r\nKey=v\r\n"_ba << u"v"_s;
    QTest::newRow("key name in other case") << "[Sec]\r\nkEY=v\r\n"_ba << u"v"_s;
    QTest::newRow("blanks around the section line") << " \t[Sec] \t\r\nKey=v\r\n"_ba << u"v"_s;
    QTest::newRow("blanks inside the brackets") << "[ Sec\t]\r\nKey=v\r\n"_ba << u"v"_s;
    QTest::newRow("blanks around the key name") << "[Sec]\r\n \tKey \t=v\r\n"_ba << u"v"_s;
    QTest::newRow("blanks around the value dropped, inner kept")
        << "[Sec]\r\nKey= \t a  b \t \r\n"_ba << u"a  b"_s;
    QTest::newRow("double quotes dropped, blanks inside kept")
        << "[Sec]\r\nKey= \"  a b  \" \r\n"_ba << u"  a b  "_s;
    QTest::newRow("single quotes dropped") << "[Sec]\r\nKey='x'\r\n"_ba << u"x"_s;
    QTest::newRow("unmatched quotes kept") << "[Sec]\r\nKey=\"x'\r\n"_ba << u"\"x'"_s;
    QTest::newRow("lone quote kept") << "[Sec]\r\nKey=\"\r\n"_ba << u"\""_s;
    QTest::newRow("only the outer pair dropped") << "[Sec]\r\nKey=\"\"x\"\"\r\n"_ba << u"\"x\""_s;
    QTest::newRow("quotes inside kept") << "[Sec]\r\nKey=a \"b\"\r\n"_ba << u"a \"b\""_s;
    QTest::newRow("value holding '='") << "[Sec]\r\nKey=a=b\r\n"_ba << u"a=b"_s;
    QTest::newRow("LF line ends") << "[Sec]\nKey=v\n"_ba << u"v"_s;
    QTest::newRow("no line break at the end") << "[Sec]\r\nKey=v"_ba << u"v"_s;
    QTest::newRow("GBK value") << QByteArray("[Sec]\r\nKey=" + Gbk(u"中文 €"_s) + "\r\n")
                               << u"中文 €"_s;
    QTest::newRow("empty value is empty, not the default") << "[Sec]\r\nKey=\r\n"_ba << QString();
    QTest::newRow("blank value is empty") << "[Sec]\r\nKey= \t \r\n"_ba << QString();
    QTest::newRow("empty quotes are empty") << "[Sec]\r\nKey=\"\"\r\n"_ba << QString();
    QTest::newRow("first of two keys wins") << "[Sec]\r\nKey=1\r\nKEY=2\r\n"_ba << u"1"_s;
    QTest::newRow("first of two sections wins")
        << "[Sec]\r\nKey=1\r\n[sec]\r\nKey=2\r\n"_ba << u"1"_s;
    QTest::newRow("missing key") << "[Sec]\r\nOther=1\r\n"_ba << def;
    QTest::newRow("missing section") << "[Other]\r\nKey=1\r\n"_ba << def;
    QTest::newRow("key of the next section") << "[Sec]\r\nA=1\r\n[Other]\r\nKey=2\r\n"_ba << def;
    QTest::newRow("key before any section") << "Key=1\r\n[Sec]\r\nA=1\r\n"_ba << def;
    QTest::newRow("line without '=' is no key") << "[Sec]\r\nKey\r\n"_ba << def;
    QTest::newRow("key after a line without '='") << "[Sec]\r\nKey\r\nKey=v\r\n"_ba << u"v"_s;
    QTest::newRow("commented-out key") << "[Sec]\r\n;Key=v\r\n"_ba << def;
    QTest::newRow("unclosed bracket is no section") << "[Sec\r\nKey=v\r\n"_ba << def;
    QTest::newRow("text after the bracket is no section") << "[Sec] x\r\nKey=v\r\n"_ba << def;
    QTest::newRow("empty file") << QByteArray() << def;
}

void TestPrivateProfile::readString()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    m_ini->Write(content);
    const TPrivateProfile ini(m_ini->Path);
    const QString value = ini.ReadString(u"Sec"_s, u"Key"_s, u"<default>"_s);
    QCOMPARE(value, expected);
    QCOMPARE(value.isNull(), false);
    QCOMPARE(m_ini->Read(), content);
}

void TestPrivateProfile::readMissingFile()
{
    const TPrivateProfile ini(m_ini->Path);
    QCOMPARE(ini.ReadString(u"Sec"_s, u"Key"_s, u"d"_s), u"d"_s);
    QCOMPARE(ini.ReadInteger(u"Sec"_s, u"Key"_s, 7), 7);
    QCOMPARE(ini.ReadBool(u"Sec"_s, u"Key"_s, true), true);
    QVERIFY(!QFile::exists(m_ini->Path));
}

void TestPrivateProfile::readLongValue_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray a2045(2045, 'a');
    const QByteArray a2046(2046, 'a');
    const QByteArray a2047(2047, 'a');
    const QByteArray zhong = Gbk(u"中"_s);
    QByteArray zhong1023;
    for (int i = 0; i < 1023; ++i)
        zhong1023 += zhong;

    QTest::newRow("2047 bytes kept") << a2047 << a2047;
    QTest::newRow("2048 bytes cut to 2047") << QByteArray(a2047 + 'b') << a2047;
    QTest::newRow("blanks dropped before the cut") << QByteArray("  " + a2047 + "b  ") << a2047;
    QTest::newRow("quotes dropped before the cut") << QByteArray('"' + a2047 + '"') << a2047;
    QTest::newRow("double-byte character ending at the limit kept")
        << QByteArray(a2045 + zhong) << QByteArray(a2045 + zhong);
    QTest::newRow("double-byte character across the limit dropped")
        << QByteArray(a2046 + zhong + "xyz") << a2046;
    QTest::newRow("double-byte characters only")
        << QByteArray(zhong1023 + zhong + zhong) << zhong1023;
    QTest::newRow("odd start, double-byte characters")
        << QByteArray('a' + zhong1023 + zhong) << QByteArray('a' + zhong1023);
}

void TestPrivateProfile::readLongValue()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, expected);

    m_ini->Write("[Sec]\r\nKey=" + raw + "\r\nNext=1\r\n");
    const TPrivateProfile ini(m_ini->Path);
    const QString value = ini.ReadString(u"Sec"_s, u"Key"_s, QString());
    QCOMPARE(Gbk(value), expected);
    QVERIFY(!value.contains(QChar::ReplacementCharacter));
    QCOMPARE(ini.ReadInteger(u"Sec"_s, u"Next"_s, 0), 1);
}

void TestPrivateProfile::readInteger_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("expected");

    const int def = 4242;
    QTest::newRow("decimal") << "30"_ba << 30;
    QTest::newRow("zero") << "0"_ba << 0;
    QTest::newRow("leading zeros") << "007"_ba << 7;
    QTest::newRow("0x prefix") << "0x1E"_ba << 30;
    QTest::newRow("0X prefix, lower-case digits") << "0X1e"_ba << 30;
    QTest::newRow("$ prefix") << "$1E"_ba << 30;
    QTest::newRow("x prefix") << "x1E"_ba << 30;
    QTest::newRow("X prefix") << "X1e"_ba << 30;
    QTest::newRow("leading blank inside quotes") << "\" 12\""_ba << 12;
    QTest::newRow("trailing blank trimmed") << "12 "_ba << 12;
    QTest::newRow("trailing blank inside quotes") << "\"12 \""_ba << def;
    QTest::newRow("plus sign") << "+5"_ba << 5;
    QTest::newRow("minus sign") << "-15"_ba << -15;
    QTest::newRow("minus sign, hexadecimal") << "-$1E"_ba << -30;
    QTest::newRow("minus sign, 0x inside") << "-0x1E"_ba << -30;
    QTest::newRow("largest") << "2147483647"_ba << INT_MAX;
    QTest::newRow("one over the largest") << "2147483648"_ba << def;
    QTest::newRow("smallest") << "-2147483648"_ba << INT_MIN;
    QTest::newRow("one under the smallest") << "-2147483649"_ba << def;
    QTest::newRow("far too large") << "99999999999999999999"_ba << def;
    QTest::newRow("$FFFFFFFF is -1") << "$FFFFFFFF"_ba << -1;
    QTest::newRow("$7FFFFFFF") << "$7FFFFFFF"_ba << INT_MAX;
    QTest::newRow("$80000000") << "$80000000"_ba << INT_MIN;
    QTest::newRow("sign applied to the pattern") << "-$FFFFFFFF"_ba << 1;
    QTest::newRow("nine hexadecimal digits") << "$100000000"_ba << def;
    QTest::newRow("leading zeros are not significant") << "$000000001"_ba << 1;
    QTest::newRow("word") << "abc"_ba << def;
    QTest::newRow("empty") << ""_ba << def;
    QTest::newRow("digit then letter") << "1e"_ba << def;
    QTest::newRow("inner blank") << "1 2"_ba << def;
    QTest::newRow("fraction") << "1.5"_ba << def;
    QTest::newRow("prefix only, $") << "$"_ba << def;
    QTest::newRow("prefix only, 0x") << "0x"_ba << def;
    QTest::newRow("prefix only, x") << "x"_ba << def;
    QTest::newRow("sign only") << "-"_ba << def;
    QTest::newRow("two signs") << "--5"_ba << def;
    QTest::newRow("sign after the prefix") << "$-1"_ba << def;
    QTest::newRow("non-hex digit") << "$1G"_ba << def;
    QTest::newRow("full-width digits") << Gbk(u"１２"_s) << def;
}

void TestPrivateProfile::readInteger()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, expected);

    m_ini->Write("[Sec]\r\nKey=" + raw + "\r\n");
    const TPrivateProfile ini(m_ini->Path);
    QCOMPARE(ini.ReadInteger(u"Sec"_s, u"Key"_s, 4242), expected);
}

void TestPrivateProfile::readBool_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("defaultValue");
    QTest::addColumn<bool>("expected");

    QTest::newRow("1") << "1"_ba << false << true;
    QTest::newRow("2") << "2"_ba << false << true;
    QTest::newRow("-1") << "-1"_ba << false << true;
    QTest::newRow("$1") << "$1"_ba << false << true;
    QTest::newRow("0") << "0"_ba << true << false;
    QTest::newRow("0x0") << "0x0"_ba << true << false;
    QTest::newRow("true, default false") << "true"_ba << false << false;
    QTest::newRow("true, default true") << "true"_ba << true << true;
    QTest::newRow("yes, default false") << "yes"_ba << false << false;
    QTest::newRow("empty, default true") << ""_ba << true << true;
}

void TestPrivateProfile::readBool()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, defaultValue);
    QFETCH(bool, expected);

    m_ini->Write("[Sec]\r\nKey=" + raw + "\r\n");
    const TPrivateProfile ini(m_ini->Path);
    QCOMPARE(ini.ReadBool(u"Sec"_s, u"Key"_s, defaultValue), expected);
}

void TestPrivateProfile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("after");

    // Every write below stores the value "new".
    QTest::newRow("key replaced in place, every other line kept byte for byte")
        << "; front desk\r\n"
           "[Other]\n"
           "Password=keep\n"
           "\r\n"
           "[sysoption] \r\n"
           "  PASSWORD  =  old value  \r\n"
           "Unknown line\n"
           "[Database]\r\n"
           "Driver=QSQLITE"_ba
        << u"SysOption"_s << u"Password"_s
        << "; front desk\r\n"
           "[Other]\n"
           "Password=keep\n"
           "\r\n"
           "[sysoption] \r\n"
           "Password=new\r\n"
           "Unknown line\n"
           "[Database]\r\n"
           "Driver=QSQLITE"_ba;
    QTest::newRow("first of two keys replaced")
        << "[A]\r\nz=1\r\nZ=2\r\n"_ba << u"A"_s << u"Z"_s << "[A]\r\nZ=new\r\nZ=2\r\n"_ba;
    QTest::newRow("last line replaced gets a line break")
        << "[A]\nz=1"_ba << u"A"_s << u"z"_s << "[A]\nz=new\r\n"_ba;
    QTest::newRow("missing key after the last key, before comments and blank lines")
        << "[A]\r\nx=1\r\n; note\r\n\r\n[B]\r\ny=2\r\n"_ba << u"A"_s << u"z"_s
        << "[A]\r\nx=1\r\nz=new\r\n; note\r\n\r\n[B]\r\ny=2\r\n"_ba;
    QTest::newRow("missing key in a section without keys")
        << "[A]\r\n; none\r\n[B]\r\n"_ba << u"a"_s << u"z"_s
        << "[A]\r\nz=new\r\n; none\r\n[B]\r\n"_ba;
    QTest::newRow("missing key after a last line without break")
        << "[A]\r\nx=1"_ba << u"A"_s << u"z"_s << "[A]\r\nx=1\r\nz=new\r\n"_ba;
    QTest::newRow("missing key after a section line without break")
        << "[A]"_ba << u"A"_s << u"z"_s << "[A]\r\nz=new\r\n"_ba;
    QTest::newRow("missing key after a last line ending in CR")
        << "[A]\r\nx=1\r"_ba << u"A"_s << u"z"_s << "[A]\r\nx=1\r\nz=new\r\n"_ba;
    QTest::newRow("missing key in an LF file")
        << "[A]\nx=1\n[B]\n"_ba << u"A"_s << u"z"_s << "[A]\nx=1\nz=new\r\n[B]\n"_ba;
    QTest::newRow("missing key goes to the first of two sections")
        << "[A]\r\nx=1\r\n[B]\r\n[a]\r\nz=9\r\n"_ba << u"A"_s << u"z"_s
        << "[A]\r\nx=1\r\nz=new\r\n[B]\r\n[a]\r\nz=9\r\n"_ba;
    QTest::newRow("key before any section does not count")
        << "z=0\r\n[A]\r\n"_ba << u"A"_s << u"z"_s << "z=0\r\n[A]\r\nz=new\r\n"_ba;
    QTest::newRow("missing section at the end")
        << "[A]\r\nx=1\r\n\r\n"_ba << u"B"_s << u"z"_s << "[A]\r\nx=1\r\n\r\n[B]\r\nz=new\r\n"_ba;
    QTest::newRow("missing section after a last line without break")
        << "[A]\r\nx=1"_ba << u"B"_s << u"z"_s << "[A]\r\nx=1\r\n[B]\r\nz=new\r\n"_ba;
    QTest::newRow("empty file") << QByteArray() << u"B"_s << u"z"_s << "[B]\r\nz=new\r\n"_ba;
}

void TestPrivateProfile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QByteArray, after);

    m_ini->Write(before);
    TPrivateProfile ini(m_ini->Path);
    ini.WriteString(section, key, u"new"_s);
    QCOMPARE(m_ini->Read(), after);
    QCOMPARE(ini.ReadString(section, key, QString()), u"new"_s);
}

void TestPrivateProfile::writeCreatesMissingFile()
{
    TPrivateProfile ini(m_ini->Path);
    ini.WriteString(u"SysOption"_s, u"Password"_s, u"tervix"_s);
    QCOMPARE(m_ini->Read(), "[SysOption]\r\nPassword=tervix\r\n"_ba);
    // Nothing is left beside it.
    QCOMPARE(QDir(m_ini->Dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{u"Option.ini"_s});
}

void TestPrivateProfile::writeIntegerAndBool()
{
    TPrivateProfile ini(m_ini->Path);
    ini.WriteInteger(u"S"_s, u"Neg"_s, -15);
    ini.WriteInteger(u"S"_s, u"Min"_s, INT_MIN);
    ini.WriteInteger(u"S"_s, u"Max"_s, INT_MAX);
    ini.WriteBool(u"S"_s, u"On"_s, true);
    ini.WriteBool(u"S"_s, u"Off"_s, false);
    QCOMPARE(m_ini->Read(),
             "[S]\r\nNeg=-15\r\nMin=-2147483648\r\nMax=2147483647\r\nOn=1\r\nOff=0\r\n"_ba);
    QCOMPARE(ini.ReadInteger(u"S"_s, u"Neg"_s, 0), -15);
    QCOMPARE(ini.ReadInteger(u"S"_s, u"Min"_s, 0), INT_MIN);
    QCOMPARE(ini.ReadInteger(u"S"_s, u"Max"_s, 0), INT_MAX);
    QCOMPARE(ini.ReadBool(u"S"_s, u"On"_s, false), true);
    QCOMPARE(ini.ReadBool(u"S"_s, u"Off"_s, true), false);
}

void TestPrivateProfile::gbkRoundTrip()
{
    const QString value = u"中文密码€"_s;
    TPrivateProfile ini(m_ini->Path);
    ini.WriteString(u"SysOption"_s, u"Password"_s, value);
    QCOMPARE(m_ini->Read(), QByteArray("[SysOption]\r\nPassword=" +
                                       QByteArray::fromHex("d6d0cec4c3dcc2eb80") + "\r\n"));
    QCOMPARE(ini.ReadString(u"SysOption"_s, u"Password"_s, QString()), value);
}

void TestPrivateProfile::awkwardValuesRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("plain value written as it is") << u"a \"b\" c"_s << "K=a \"b\" c"_ba;
    QTest::newRow("empty") << QString() << "K="_ba;
    QTest::newRow("equals signs") << u"=x=y"_s << "K==x=y"_ba;
    QTest::newRow("lone quote") << u"\""_s << "K=\""_ba;
    QTest::newRow("leading blank") << u" lead"_s << "K=\" lead\""_ba;
    QTest::newRow("trailing blank") << u"trail "_s << "K=\"trail \""_ba;
    QTest::newRow("tabs at both ends") << u"\tboth\t"_s << "K=\"\tboth\t\""_ba;
    QTest::newRow("blanks only") << u"   "_s << "K=\"   \""_ba;
    QTest::newRow("enclosed in double quotes") << u"\"quoted\""_s << "K=\"\"quoted\"\""_ba;
    QTest::newRow("enclosed in single quotes") << u"'single'"_s << "K=\"'single'\""_ba;
    QTest::newRow("Chinese with a trailing blank")
        << u"中 "_s << QByteArray("K=\"" + Gbk(u"中 "_s) + "\"");
    QTest::newRow("2047 bytes") << QString(2047, u'a') << QByteArray("K=" + QByteArray(2047, 'a'));
    QTest::newRow("2047 bytes with a leading blank")
        << QString(u' ' + QString(2046, u'a')) << QByteArray("K=\" " + QByteArray(2046, 'a') + '"');
}

void TestPrivateProfile::awkwardValuesRoundTrip()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, line);

    TPrivateProfile ini(m_ini->Path);
    ini.WriteString(u"S"_s, u"K"_s, value);
    QCOMPARE(m_ini->Read(), QByteArray("[S]\r\n" + line + "\r\n"));
    QCOMPARE(ini.ReadString(u"S"_s, u"K"_s, u"<default>"_s), value);
}

void TestPrivateProfile::refusedWrites_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("line feed in the value") << u"S"_s << u"K"_s << u"a\nb=1"_s;
    QTest::newRow("carriage return in the value") << u"S"_s << u"K"_s << u"a\rb"_s;
    QTest::newRow("NUL in the value") << u"S"_s << u"K"_s << u"a\0b"_s;
    QTest::newRow("character outside GBK") << u"S"_s << u"K"_s << u"pw😀"_s;
    QTest::newRow("value over 2047 bytes") << u"S"_s << u"K"_s << QString(2048, u'a');
    QTest::newRow("value over 2047 bytes in GBK") << u"S"_s << u"K"_s << QString(1024, u'中');
    QTest::newRow("empty key") << u"S"_s << QString() << u"v"_s;
    QTest::newRow("key with '='") << u"S"_s << u"K=1"_s << u"v"_s;
    QTest::newRow("key with blanks at its end") << u"S"_s << u"K "_s << u"v"_s;
    QTest::newRow("key opening with '['") << u"S"_s << u"[K"_s << u"v]"_s;
    QTest::newRow("key with a line break") << u"S"_s << u"K\nL"_s << u"v"_s;
    QTest::newRow("empty section") << QString() << u"K"_s << u"v"_s;
    QTest::newRow("section with ']'") << u"S]x"_s << u"K"_s << u"v"_s;
    QTest::newRow("section with a line break") << u"S\r\n[T"_s << u"K"_s << u"v"_s;
    QTest::newRow("section with blanks at its start") << u" S"_s << u"K"_s << u"v"_s;
}

void TestPrivateProfile::refusedWrites()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);

    const QByteArray before = "[S]\r\nK=old\r\n"_ba;
    m_ini->Write(before);
    TPrivateProfile ini(m_ini->Path);
    QCOMPARE(ErrorOf([&] { ini.WriteString(section, key, value); }),
             u"Unable to write to "_s + m_ini->Path);
    QCOMPARE(m_ini->Read(), before);
}

void TestPrivateProfile::folderInPlaceOfFile()
{
    QVERIFY(QDir().mkdir(m_ini->Path));
    TPrivateProfile ini(m_ini->Path);
    QCOMPARE(ini.ReadString(u"S"_s, u"K"_s, u"d"_s), u"d"_s);
    QCOMPARE(ErrorOf([&] { ini.WriteString(u"S"_s, u"K"_s, u"v"_s); }),
             u"Unable to write to "_s + m_ini->Path);
    QCOMPARE(ErrorOf([&] { ini.WriteInteger(u"S"_s, u"K"_s, 1); }),
             u"Unable to write to "_s + m_ini->Path);
    QCOMPARE(ErrorOf([&] { ini.WriteBool(u"S"_s, u"K"_s, true); }),
             u"Unable to write to "_s + m_ini->Path);
    QVERIFY(QFileInfo(m_ini->Path).isDir());
}

void TestPrivateProfile::pathUnderMissingFolder()
{
    const QString path = m_ini->Dir.filePath(u"missing/Option.ini"_s);
    TPrivateProfile ini(path);
    QCOMPARE(ini.ReadInteger(u"S"_s, u"K"_s, 5), 5);
    QCOMPARE(ErrorOf([&] { ini.WriteString(u"S"_s, u"K"_s, u"v"_s); }),
             u"Unable to write to "_s + path);
    QVERIFY(!QFileInfo::exists(m_ini->Dir.filePath(u"missing"_s)));
}

void TestPrivateProfile::fileIsReadAfreshOnEveryCall()
{
    TPrivateProfile ini(m_ini->Path);
    QCOMPARE(ini.ReadString(u"S"_s, u"K"_s, u"d"_s), u"d"_s);
    m_ini->Write("[S]\r\nK=1\r\n");
    QCOMPARE(ini.ReadString(u"S"_s, u"K"_s, u"d"_s), u"1"_s);

    // A line added by hand between two writes survives the second one.
    ini.WriteString(u"S"_s, u"A"_s, u"2"_s);
    m_ini->Write(m_ini->Read() + "[Hand]\r\nEdit=3\r\n");
    ini.WriteString(u"S"_s, u"B"_s, u"4"_s);
    QCOMPARE(m_ini->Read(), "[S]\r\nK=1\r\nA=2\r\nB=4\r\n[Hand]\r\nEdit=3\r\n"_ba);
}

QTEST_GUILESS_MAIN(TestPrivateProfile)
#include "tst_privateprofile.moc"
