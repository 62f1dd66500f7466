#include "MessageBoxRecorder.h"
#include "ModalDriver.h"
#include "OptionFormUnit.h"
#include "OptionUnit.h"
#include "TempIniFile.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

QList<QByteArray> fileLines(const QString& path)
{
    QList<QByteArray> lines = FileBytes(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestOptionForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTempIniFile> m_ini;

    std::unique_ptr<TOption> loadedSettings() const { return m_ini->Loaded<TOption>(); }

    QString valueInFile(const QString& key) const { return m_ini->Value(u"DoorlockOption"_s, key); }

private slots:
    void init()
    {
        m_ini = std::make_unique<TTempIniFile>();
        QVERIFY(m_ini->Dir.isValid());
    }

    void layout()
    {
        auto option = loadedSettings();
        TOptionForm form(*option);
        QCOMPARE(form.windowTitle(), u"VeltraKandor门锁接口配置"_s);
        QCOMPARE(form.size(), QSize(324, 183));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.font().pointSize(), 8);
        QCOMPARE(form.Label3->text(), u"端    口:"_s);
        QCOMPARE(form.Label3->pos(), QPoint(44, 35));
        QCOMPARE(form.PortNameCmb->pos(), QPoint(112, 31));
        QCOMPARE(form.PortNameCmb->width(), 129);
        QVERIFY(!form.PortNameCmb->isEditable());
        QStringList items;
        for (int i = 0; i < form.PortNameCmb->count(); ++i)
            items << form.PortNameCmb->itemText(i);
        QCOMPARE(items, (QStringList{u"COM1"_s, u"COM2"_s, u"COM3"_s, u"COM4"_s, u"COM5"_s,
                                     u"COM6"_s, u"COM7"_s, u"COM8"_s, u"COM9"_s, u"COM10"_s}));
        QCOMPARE(form.Label2->text(), u"使用接口前请按说明修改VeltraQuillon.ini文件"_s);
        QCOMPARE(form.Label2->geometry(), QRect(40, 80, 345, 13));
        QCOMPARE(form.OKBtn->text(), u"确定"_s);
        QCOMPARE(form.OKBtn->geometry(), QRect(53, 130, 73, 23));
        QVERIFY(form.OKBtn->isDefault());
        QCOMPARE(form.CancelBtn->text(), u"取消"_s);
        QCOMPARE(form.CancelBtn->geometry(), QRect(173, 130, 73, 23));
    }

    void tabOrder()
    {
        auto option = loadedSettings();
        TOptionForm form(*option);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.PortNameCmb);
        for (QWidget* next : QList<QWidget*>{form.OKBtn, form.CancelBtn, form.PortNameCmb}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void selectionFollowsThePortName_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("index");
        QTest::newRow("COM3") << QByteArray("[DoorlockOption]\r\nPortName=COM3\r\n") << 2;
        QTest::newRow("lower case com3")
            << QByteArray("[DoorlockOption]\r\nPortName=com3\r\n") << 2;
        QTest::newRow("COM10 is not COM1")
            << QByteArray("[DoorlockOption]\r\nPortName=cOm10\r\n") << 9;
        QTest::newRow("no file: default COM1") << QByteArray() << 0;
        QTest::newRow("COM12 outside the list")
            << QByteArray("[DoorlockOption]\r\nPortName=COM12\r\n") << -1;
        QTest::newRow("COM01 outside the list")
            << QByteArray("[DoorlockOption]\r\nPortName=COM01\r\n") << -1;
        QTest::newRow("empty value") << QByteArray("[DoorlockOption]\r\nPortName=\r\n") << -1;
    }
    void selectionFollowsThePortName()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, index);
        if (!ini.isEmpty())
            m_ini->Write(ini);
        auto option = loadedSettings();
        TOptionForm form(*option);
        QCOMPARE(form.PortNameCmb->currentIndex(), index);
        if (index < 0)
            QVERIFY(form.PortNameCmb->currentText().isEmpty());
    }

    void okWritesOnlyTheTwoKeys()
    {
        const QByteArray before = "; front desk settings\r\n"
                                  "[SysOption]\r\n"
                                  "Password=tervix\r\n"
                                  "DoorlockPortNo=0x22B6\r\n"
                                  "[DoorlockOption]\r\n"
                                  "DelayMinutes=$1E\r\n"
                                  "PortName=com3\r\n"
                                  "UseNativeDoorlockDb=true\r\n"
                                  "a line the program does not know\r\n"
                                  "\r\n"
                                  "[Other]\r\n"
                                  "Key = Value\r\n";
        m_ini->Write(before);
        auto option = loadedSettings();
        MessageBoxRecorder boxes;
        TOptionForm form(*option);
        form.show();
        QTest::mouseClick(form.OKBtn, Qt::LeftButton);

        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text, u"请重新启动程序,以启用设置的参数！"_s);
        QCOMPARE(boxes.Boxes[0].Caption, u"提示"_s);
        QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Information);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(option->PortName(), u"COM3"_s);

        QCOMPARE(valueInFile(u"PortName"_s), u"COM3"_s);
        // DataBasePath was missing: saved with its default, four characters C:\\.
        QCOMPARE(valueInFile(u"DataBasePath"_s), u"C:\\\\"_s);

        // Apart from the two keys' lines, the file is the same byte for byte.
        auto ownLine = [](const QByteArray& line) {
            return line.startsWith("PortName=") || line.startsWith("DataBasePath=");
        };
        QList<QByteArray> others;
        for (const QByteArray& line : fileLines(m_ini->Path))
            if (!ownLine(line))
                others << line;
        QList<QByteArray> expected;
        for (const QByteArray& line : before.split('\n'))
            if (!line.isEmpty() && !ownLine(line))
                expected << line;
        QCOMPARE(others, expected);
    }

    void chosenPortIsInEffectAtOnce()
    {
        auto option = loadedSettings();
        MessageBoxRecorder boxes;
        TOptionForm form(*option);
        form.show();
        form.PortNameCmb->setCurrentIndex(9);
        QTest::keyClick(form.PortNameCmb, Qt::Key_Return);
        QCOMPARE(option->PortName(), u"COM10"_s);
        QCOMPARE(option->PortNumber(), 10);
        QCOMPARE(valueInFile(u"PortName"_s), u"COM10"_s);
        QCOMPARE(boxes.Boxes.size(), 1);
    }

    void okWithoutSelectionStoresAnEmptyName_data()
    {
        QTest::addColumn<QByteArray>("portName");
        QTest::newRow("COM12") << QByteArray("COM12");
        QTest::newRow("empty") << QByteArray();
    }
    void okWithoutSelectionStoresAnEmptyName()
    {
        QFETCH(QByteArray, portName);
        m_ini->Write("[DoorlockOption]\r\nPortName=" + portName +
                     "\r\nDataBasePath=D:\\Hotel\\\r\n");
        auto option = loadedSettings();
        MessageBoxRecorder boxes;
        WhenModalShown([](QWidget* dialog) {
            auto* form = qobject_cast<TOptionForm*>(dialog);
            QVERIFY(form);
            QTest::mouseClick(form->OKBtn, Qt::LeftButton);
        });
        ShowOptionForm(*option);
        QCOMPARE(option->PortName(), QString());
        QCOMPARE(valueInFile(u"PortName"_s), QString());
        QCOMPARE(valueInFile(u"DataBasePath"_s), u"D:\\Hotel\\"_s);
        QCOMPARE(boxes.Boxes.size(), 1);
    }

    void cancelChangesNothing_data()
    {
        QTest::addColumn<TCancelWay>("way");
        QTest::addColumn<bool>("fileExists");
        for (const auto& [name, way] : CancelWays)
            QTest::newRow(name) << way << true;
        for (const auto& [name, way] : CancelWays)
            QTest::addRow("%s, no file", name) << way << false;
    }
    void cancelChangesNothing()
    {
        QFETCH(TCancelWay, way);
        QFETCH(bool, fileExists);
        const QByteArray before = "[DoorlockOption]\r\nPortName=com3\r\n";
        if (fileExists)
            m_ini->Write(before);
        auto option = loadedSettings();
        const QString portName = option->PortName();
        MessageBoxRecorder boxes;
        WhenModalShown([way](QWidget* dialog) {
            auto* form = qobject_cast<TOptionForm*>(dialog);
            QVERIFY(form);
            form->PortNameCmb->setCurrentIndex(6);
            CancelDialog(form, way, form->CancelBtn, form->PortNameCmb);
        });
        ShowOptionForm(*option);
        QVERIFY(boxes.Boxes.isEmpty());
        QCOMPARE(option->PortName(), portName);
        if (fileExists)
            QCOMPARE(m_ini->Read(), before);
        else
            QVERIFY(!QFile::exists(m_ini->Path));
    }

    void failedSaveShowsTheErrorAndStillCloses()
    {
        // A folder where the file should be: the settings cannot be written.
        QVERIFY(QDir(m_ini->Dir.path()).mkdir(u"Option.ini"_s));
        auto option = loadedSettings();
        MessageBoxRecorder boxes;
        TOptionForm form(*option);
        form.show();
        form.PortNameCmb->setCurrentIndex(4);
        QTest::mouseClick(form.OKBtn, Qt::LeftButton);

        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text, u"Unable to write to "_s + m_ini->Path + u'.');
        QCOMPARE(boxes.Boxes[0].Caption, ApplicationTitle());
        QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Error);
        QVERIFY(!form.isVisible());
        // The card operations that follow use the new port.
        QCOMPARE(option->PortName(), u"COM5"_s);
        QCOMPARE(option->PortNumber(), 5);
    }
};

QTEST_MAIN(TestOptionForm)
#include "tst_optionform.moc"
