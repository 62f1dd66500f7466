// The door lock test dialog over the real encoder driver and simulator, a fresh copy of the
// build's Client.db with the real record store, and a real log, in a fresh working directory
// per test.

#include "BaseDoorlockUnit.h"
#include "DoorlockMessageHandlerUnit.h"
#include "DoorlockRecordManagerUnit.h"
#include "DoorlockTestFormUnit.h"
#include "LogFileUnit.h"
#include "MessageBoxRecorder.h"
#include "OptionUnit.h"
#include "SysOptionUnit.h"
#include "TCPServerUnit.h"
#include "TestFiles.h"
#include "VeltraKandorDoorlockUnit.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString CheckConnection = u"check"_s;

TDateTime At(int year, int month, int day, int hour, int minute, int second = 0)
{
    return DateTime::EncodeDateTime(year, month, day, hour, minute, second);
}

// The dialog is opened at 00:30:00 on 2024-03-05.
const TDateTime Now = At(2024, 3, 5, 0, 30);
const TDateTime TypedCheckIn = At(2024, 3, 4, 23, 30);
const TDateTime TypedCheckOut = At(2024, 3, 7, 0, 30);
constexpr int DelayMinutes = 15;
// The card number of the default boxes: the check-out to the minute, then the room number.
const QString DefaultCardNo = u"20240307003001"_s;

class FixedClock : public TClock
{
public:
    TDateTime Now() const override { return ::Now; }
    int CurrentYear() const override { return 2024; }
};

// Doubles compared bit for bit, shown readably.
QString Exact(const QVariant& value)
{
    return QString::number(value.toDouble(), 'g', 17);
}
QString Exact(TDateTime value)
{
    return QString::number(value, 'g', 17);
}

// The simulator's journal, one call a line.
QList<QByteArray> Journal()
{
    QList<QByteArray> lines = Contents(u"CardWR.journal"_s).split('\n');
    if (lines == QList<QByteArray>{"<missing>"_ba})
        return {};
    lines.removeLast();
    for (QByteArray& line : lines)
        line.chop(1);
    return lines;
}

qsizetype JournalCalls(const QByteArray& function)
{
    qsizetype calls = 0;
    for (const QByteArray& line : Journal())
        calls += line.startsWith(QByteArray(function + '|')) ? 1 : 0;
    return calls;
}

// One door request over a real socket; the answer up to its NUL.
QByteArray Exchange(quint16 port, const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(10000))
        return "<no connection>"_ba;
    socket.write(request + '\0');
    QByteArray answer;
    while (!answer.contains('\0') && socket.waitForReadyRead(10000))
        answer += socket.readAll();
    return answer.left(answer.indexOf('\0'));
}

// Runs the action once the dialog has started a button's work, while the test holds the card
// step lock as a long request would; the action decides when to let go of it.
class WhileBusy
{
public:
    WhileBusy(TDoorlockTestForm& form, TBaseDoorlock& doorlock,
              std::function<void(std::unique_lock<std::mutex>&)> action)
        : m_hold(doorlock.CardStepMutex())
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this, &form, action] {
            if (!form.IsBusy())
                return;
            m_poll.stop();
            action(m_hold);
            if (m_hold.owns_lock())
                m_hold.unlock();
            Ran = true;
        });
        m_poll.start();
    }
    bool Ran = false;

private:
    std::unique_lock<std::mutex> m_hold;
    QTimer m_poll;
};

} // namespace

class TestDoorlockTestForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
    FixedClock m_clock;
    std::unique_ptr<TLogFile> m_log;
    std::unique_ptr<TOption> m_option;
    std::unique_ptr<TSysOption> m_sysOption;
    std::unique_ptr<TVeltraKandorDoorlock> m_doorlock;
    std::unique_ptr<TDoorlockRecordManager> m_store;
    TProgramObjects m_objects;

    // The two switches of the record store; the delays are set so that using them would show.
    void configure(bool useRoomStore, bool saveRecords)
    {
        Put(u"Option.ini"_s,
            "[DoorlockOption]\r\nPortName=COM3\r\nDelayMinutes=" +
                QByteArray::number(DelayMinutes) +
                "\r\nDelayMinutes2=30\r\nUseNativeDoorlockDb=" + (useRoomStore ? "1" : "0") +
                "\r\nSaveDoorlockRecord=" + (saveRecords ? "1" : "0") + "\r\n");
        m_option->Load();
        m_sysOption->Load();
    }

    void layCard(const QByteArray& line) { Put(u"EncoderCard.txt"_s, line + "\r\n"); }

    bool exec(const QString& sql)
    {
        QSqlQuery query(QSqlDatabase::database(CheckConnection));
        if (query.exec(sql))
            return true;
        qWarning() << query.lastError().text();
        return false;
    }

    QList<QVariantList> rows(const QString& sql)
    {
        QSqlQuery query(QSqlDatabase::database(CheckConnection));
        if (!query.exec(sql)) {
            qWarning() << query.lastError().text();
            return {{u"<error>"_s}};
        }
        QList<QVariantList> result;
        while (query.next()) {
            QVariantList row;
            for (int column = 0; column < query.record().count(); ++column)
                row.append(query.value(column));
            result.append(row);
        }
        return result;
    }

    QStringList roomRows()
    {
        QStringList result;
        for (const QVariantList& row : rows(u"select RoomNo, LastCheckInTime from T_Room"_s))
            result << row.value(0).toString() + u' ' + Exact(row.value(1));
        return result;
    }

    QList<QVariantList> issueRecords()
    {
        return rows(u"select RegisterId, CardNo, RoomNo, CardType, LastCheckInTime, CheckInTime, "
                    "CheckOutTime, IsCopy, GuestName, OpratingTime from T_IssueCardRecord"_s);
    }

    QStringList logTexts()
    {
        QStringDecoder gbk("GBK");
        const QString text = gbk.decode(Contents(m_log->FilePath()));
        if (text == u"<missing>"_s)
            return {};
        QStringList texts;
        for (const QString& line : text.split(u"\r\n"_s, Qt::SkipEmptyParts))
            texts << line.mid(20); // after the stamp "yyyy-mm-dd hh:nn:ss "
        return texts;
    }

    static QStringList boxTexts(const TDoorlockTestForm& form)
    {
        return {form.RoomBuildingCodeTxt->text(),
                form.RoomFloorCodeTxt->text(),
                form.RoomNoTxt->text(),
                form.CheckInDateTimeTxt->text(),
                form.CheckOutDateTimeTxt->text(),
                form.CardNoTxt->text(),
                form.IsCopyCheckBox->isChecked() ? u"copy"_s : u"new"_s};
    }

private slots:
    void initTestCase()
    {
        // As the running program does when its main window is created.
        DateTime::FixProcessFormats(TFormatSettings::Fixed());
        QVERIFY(QFile::exists(qEnvironmentVariable("DOORLOCK_BIN_DIR") + u"/Client.db"_s));
    }

    void init()
    {
        m_oldDir = QDir::currentPath();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir::setCurrent(m_dir->path()));
        QVERIFY(QFile::copy(qEnvironmentVariable("DOORLOCK_BIN_DIR") + u"/Client.db"_s,
                            m_dir->filePath(u"Client.db"_s)));

        const QString ini = m_dir->filePath(u"Option.ini"_s);
        m_log = std::make_unique<TLogFile>(m_dir->filePath(u"20240305.LOG"_s), m_clock);
        m_option = std::make_unique<TOption>(ini);
        m_sysOption = std::make_unique<TSysOption>(ini);
        configure(false, true);
        m_doorlock = std::make_unique<TVeltraKandorDoorlock>(*m_option, *m_log);
        m_store = std::make_unique<TDoorlockRecordManager>(*m_log);
        m_store->Open(TDatabaseSettings::BesideProgram(m_dir->path() + u'/'));

        m_objects = TProgramObjects{};
        m_objects.LogFile = m_log.get();
        m_objects.Option = m_option.get();
        m_objects.SysOption = m_sysOption.get();
        m_objects.RecordManager = m_store.get();
        m_objects.CurrentDoorlock = m_doorlock.get();
        m_objects.Clock = &m_clock;

        QSqlDatabase check = QSqlDatabase::addDatabase(u"QSQLITE"_s, CheckConnection);
        check.setDatabaseName(m_dir->filePath(u"Client.db"_s));
        QVERIFY2(check.open(), qPrintable(check.lastError().text()));
    }

    void cleanup()
    {
        QSqlDatabase::database(CheckConnection, false).close();
        QSqlDatabase::removeDatabase(CheckConnection);
        m_store.reset();
        m_doorlock.reset();
        m_log.reset();
        QDir::setCurrent(m_oldDir);
        m_dir.reset();
    }

    void layout_data()
    {
        // Each row is named after its control.
        QTest::addColumn<QRect>("geometry"); // an empty size: the label sizes itself
        QTest::addColumn<QString>("text");

        QTest::newRow("OpenPortBtn") << QRect(144, 24, 75, 25) << u"打开串口"_s;
        QTest::newRow("beepBtn") << QRect(280, 24, 75, 25) << u"Beep"_s;
        QTest::newRow("ClosePortBtn") << QRect(424, 24, 75, 25) << u"关闭串口"_s;
        QTest::newRow("Label2") << QRect(104, 152, 0, 0) << u"楼号:"_s;
        QTest::newRow("RoomBuildingCodeTxt") << QRect(160, 152, 71, 21) << u"00"_s;
        QTest::newRow("Label3") << QRect(248, 152, 0, 0) << u"楼层:"_s;
        QTest::newRow("RoomFloorCodeTxt") << QRect(280, 152, 71, 21) << u"01"_s;
        QTest::newRow("Label4") << QRect(392, 152, 0, 0) << u"房号:"_s;
        QTest::newRow("RoomNoTxt") << QRect(424, 152, 71, 21) << u"01"_s;
        QTest::newRow("Label7") << QRect(96, 200, 0, 0) << u"起始时间："_s;
        QTest::newRow("CheckInDateTimeTxt") << QRect(160, 200, 121, 21) << u"2024-03-04 23:30:00"_s;
        QTest::newRow("Label8") << QRect(304, 200, 0, 0) << u"到"_s;
        QTest::newRow("CheckOutDateTimeTxt")
            << QRect(336, 200, 121, 21) << u"2024-03-07 00:30:00"_s;
        QTest::newRow("WriteCardBtn") << QRect(424, 248, 75, 25) << u"写卡"_s;
        QTest::newRow("IsCopyCheckBox") << QRect(320, 256, 57, 17) << u"复制"_s;
        QTest::newRow("Label1") << QRect(104, 312, 0, 0) << u"卡号"_s;
        QTest::newRow("CardNoTxt") << QRect(160, 304, 121, 21) << QString();
        QTest::newRow("ReadCardBtn") << QRect(320, 304, 75, 25) << u"读卡"_s;
        QTest::newRow("EraseCardBtn") << QRect(424, 304, 75, 25) << u"销卡"_s;
    }
    void layout()
    {
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        QFETCH(QRect, geometry);
        QFETCH(QString, text);

        TDoorlockTestForm form(m_objects);
        auto* control = form.findChild<QWidget*>(name);
        QVERIFY(control);
        if (geometry.size().isEmpty()) {
            QCOMPARE(control->pos(), geometry.topLeft());
            // A label shows its whole text.
            QVERIFY(control->width() >= control->sizeHint().width());
        } else {
            QCOMPARE(control->geometry(), geometry);
        }
        QCOMPARE(control->property("text").toString(), text);
    }

    void dialog()
    {
        TDoorlockTestForm form(m_objects);
        QCOMPARE(form.windowTitle(), u"测试"_s);
        QCOMPARE(form.size(), QSize(599, 394));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.font().pointSize(), 8);
        QVERIFY(!form.IsCopyCheckBox->isChecked());
        form.show();
        const QPoint offset =
            form.geometry().center() - form.screen()->availableGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 40, "the dialog is centred on the screen");
    }

    void tabOrder()
    {
        TDoorlockTestForm form(m_objects);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.OpenPortBtn);
        const QList<QWidget*> chain = {form.ClosePortBtn,
                                       form.CardNoTxt,
                                       form.RoomNoTxt,
                                       form.RoomFloorCodeTxt,
                                       form.RoomBuildingCodeTxt,
                                       form.ReadCardBtn,
                                       form.WriteCardBtn,
                                       form.EraseCardBtn,
                                       form.CheckInDateTimeTxt,
                                       form.CheckOutDateTimeTxt,
                                       form.beepBtn,
                                       form.IsCopyCheckBox,
                                       form.OpenPortBtn};
        for (QWidget* next : chain) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void timesAroundTheMomentOfOpening_data()
    {
        QTest::addColumn<TDateTime>("now");
        QTest::addColumn<QString>("checkIn");
        QTest::addColumn<QString>("checkOut");

        QTest::newRow("just after midnight")
            << At(2024, 3, 5, 0, 30) << u"2024-03-04 23:30:00"_s << u"2024-03-07 00:30:00"_s;
        QTest::newRow("over a leap day")
            << At(2024, 2, 28, 14, 7, 59) << u"2024-02-28 13:07:59"_s << u"2024-03-01 14:07:59"_s;
        QTest::newRow("new year") << At(2024, 1, 1, 0, 15) << u"2023-12-31 23:15:00"_s
                                  << u"2024-01-03 00:15:00"_s;
    }
    void timesAroundTheMomentOfOpening()
    {
        QFETCH(TDateTime, now);
        QFETCH(QString, checkIn);
        QFETCH(QString, checkOut);

        struct : TClock
        {
            TDateTime Value = 0;
            TDateTime Now() const override { return Value; }
        } clock;
        clock.Value = now;
        TProgramObjects objects = m_objects;
        objects.Clock = &clock;
        TDoorlockTestForm form(objects);
        QCOMPARE(form.CheckInDateTimeTxt->text(), checkIn);
        QCOMPARE(form.CheckOutDateTimeTxt->text(), checkOut);
    }

    void withoutRoomStoreTheCardEndsAtTheTypedCheckOut()
    {
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton);

        QVERIFY(boxes.Boxes.isEmpty());
        // No delay: the card ends at the typed check-out, to the minute.
        QCOMPARE(Journal(),
                 QList<QByteArray>{"W_Card|3|01|000000000000|202403070030|1|1|0|7319|1|1"_ba});
        QVERIFY(roomRows().isEmpty());
        const QList<QVariantList> records = issueRecords();
        QCOMPARE(records.size(), 1);
        const QVariantList& record = records.first();
        QCOMPARE(record.at(0).toString(), QString());
        QCOMPARE(record.at(1).toString(), DefaultCardNo);
        QCOMPARE(record.at(2).toString(), u"000101"_s);
        QCOMPARE(record.at(3).toInt(), 1);
        QCOMPARE(Exact(record.at(4)), Exact(TypedCheckIn)); // the card start time
        QCOMPARE(Exact(record.at(5)), Exact(TypedCheckIn));
        QCOMPARE(Exact(record.at(6)), Exact(TypedCheckOut));
        QCOMPARE(record.at(7).toBool(), false);
        QCOMPARE(record.at(8).toString(), u"Test"_s);
        QCOMPARE(Exact(record.at(9)), Exact(Now));
        QVERIFY(logTexts().contains(u"发卡成功,卡号为:"_s + DefaultCardNo));
        // A write shows nothing.
        QVERIFY(form.CardNoTxt->text().isEmpty());
    }

    void copyCardWithoutStoredTimeKeepsTheRoomWhenTheWriteFails()
    {
        configure(true, true);
        EncoderSettings("Result=0");
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        form.IsCopyCheckBox->setChecked(true);
        QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton);

        QVERIFY(boxes.Boxes.isEmpty());
        const TDateTime startTime = DateTime::AddMinutes(Now, -DelayMinutes);
        QCOMPARE(roomRows(), QStringList{u"000101 "_s + Exact(startTime)});
        QCOMPARE(Journal(),
                 QList<QByteArray>{"W_Card|3|01|000000000000|202403070030|1|1|0|7319|0|0"_ba});
        // The room was stored before the card was written.
        const QStringList log = logTexts();
        QVERIFY(log.indexOf(u"新建房间000101"_s) >= 0);
        QVERIFY(log.indexOf(u"新建房间000101"_s) < log.indexOf(u"发卡失败0"_s));

        // The failed write is still recorded, with card number 0.
        const QList<QVariantList> records = issueRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].at(0).toString(), QString());
        QCOMPARE(records[0].at(1).toString(), u"0"_s);
        QCOMPARE(records[0].at(2).toString(), u"000101"_s);
        QCOMPARE(Exact(records[0].at(4)), Exact(startTime));
        QCOMPARE(Exact(records[0].at(5)), Exact(TypedCheckIn));
        QCOMPARE(Exact(records[0].at(6)), Exact(TypedCheckOut));
        QCOMPARE(records[0].at(7).toBool(), true);
        QCOMPARE(records[0].at(8).toString(), u"Test"_s);
    }

    void roomStoreTimes_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("isCopy");
        QTest::addColumn<bool>("startsAtStoredTime");

        QTest::newRow("copy card keeps the stored time") << true << true << true;
        QTest::newRow("new card stores its start time") << true << false << false;
        QTest::newRow("new card adds a room without a row") << false << false << false;
    }
    void roomStoreTimes()
    {
        QFETCH(bool, stored);
        QFETCH(bool, isCopy);
        QFETCH(bool, startsAtStoredTime);

        configure(true, true);
        const TDateTime storedTime = At(2024, 3, 1, 12, 0);
        if (stored)
            QVERIFY(exec(u"insert into T_Room(RoomNo, LastCheckInTime) values('000101', "_s +
                         Exact(storedTime) + u')'));
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        form.IsCopyCheckBox->setChecked(isCopy);
        QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton);

        QVERIFY(boxes.Boxes.isEmpty());
        QCOMPARE(JournalCalls("W_Card"), 1);
        const TDateTime startTime =
            startsAtStoredTime ? storedTime : DateTime::AddMinutes(Now, -DelayMinutes);
        QCOMPARE(roomRows(), QStringList{u"000101 "_s + Exact(startTime)});
        const QList<QVariantList> records = issueRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].at(1).toString(), DefaultCardNo);
        QCOMPARE(Exact(records[0].at(4)), Exact(startTime));
        QCOMPARE(records[0].at(7).toBool(), isCopy);
    }

    void dateThatDoesNotExistWritesNothing_data()
    {
        QTest::addColumn<QString>("checkIn");
        QTest::addColumn<QString>("checkOut");

        QTest::newRow("check-out") << u"2024-03-04 23:30:00"_s << u"2024-02-30 10:00:00"_s;
        QTest::newRow("check-in") << u"2024-02-30 10:00:00"_s << u"2024-03-07 00:30:00"_s;
    }
    void dateThatDoesNotExistWritesNothing()
    {
        QFETCH(QString, checkIn);
        QFETCH(QString, checkOut);

        configure(true, true);
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        form.IsCopyCheckBox->setChecked(true); // would store the room first
        form.CheckInDateTimeTxt->setText(checkIn);
        form.CheckOutDateTimeTxt->setText(checkOut);
        QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton);

        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text, u"'2024-02-30 10:00:00' is not a valid date and time."_s);
        QCOMPARE(boxes.Boxes[0].Caption, ApplicationTitle());
        QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Error);
        QVERIFY(form.isVisible());
        QVERIFY(Journal().isEmpty());
        QVERIFY(roomRows().isEmpty());
        QVERIFY(issueRecords().isEmpty());
        QVERIFY(form.WriteCardBtn->isEnabled());
    }

    void roomNumberWithALetterIsRefusedBeforeTheCardIsWritten()
    {
        // Our driver checks that the card number can be formed before it writes, so no card
        // exists that no record knows of: the write answers false instead of failing after
        // W_Card, and the failed write is recorded like any other.
        configure(true, true);
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        form.RoomNoTxt->setText(u"0A1"_s);
        QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton);

        QVERIFY(boxes.Boxes.isEmpty());
        QCOMPARE(JournalCalls("W_Card"), 0);
        QVERIFY(logTexts().contains(u"发卡失败,房号无法构成卡号:0A1"_s));
        QVERIFY(roomRows().isEmpty()); // a new card that was not written stores no time
        const QList<QVariantList> records = issueRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].at(1).toString(), u"0"_s);
        QCOMPARE(records[0].at(2).toString(), u"00010A1"_s);
    }

    void readShowsTheCardNumber()
    {
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton);
        QTest::mouseClick(form.ReadCardBtn, Qt::LeftButton);
        QCOMPARE(form.CardNoTxt->text(), DefaultCardNo);

        QTest::mouseClick(form.EraseCardBtn, Qt::LeftButton);
        QCOMPARE(Journal().last(), "L_Card|3|1"_ba);
        QCOMPARE(Contents(u"EncoderCard.txt"_s), QByteArray());
        QCOMPARE(form.CardNoTxt->text(), DefaultCardNo); // erasing shows nothing

        // A blank card: the driver answers false and the box shows 0.
        QTest::mouseClick(form.ReadCardBtn, Qt::LeftButton);
        QCOMPARE(Journal().last(), "R_Card|3|-3"_ba);
        QCOMPARE(form.CardNoTxt->text(), u"0"_s);
        QVERIFY(boxes.Boxes.isEmpty());
    }

    void readErrorLeavesTheNumberAndShowsTheError()
    {
        layCard("0101+1+2024-03-05 14:07:00");
        EncoderSettings("CardLine=0101+2024-03-05 14:07:00");
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        form.CardNoTxt->setText(u"12345"_s);
        QTest::mouseClick(form.ReadCardBtn, Qt::LeftButton);

        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text,
                 u"Card data \"0101+2024-03-05 14:07:00\" has fewer than three fields."_s);
        QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Error);
        QCOMPARE(form.CardNoTxt->text(), u"12345"_s);
        QVERIFY(form.isVisible());
        QVERIFY(form.ReadCardBtn->isEnabled());

        // The dialog goes on working.
        EncoderSettings("");
        QTest::mouseClick(form.ReadCardBtn, Qt::LeftButton);
        QCOMPARE(form.CardNoTxt->text(), u"2024030514070101"_s);
    }

    void openCloseAndBeepChangeNothingVisible()
    {
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        const QStringList before = boxTexts(form);
        for (QPushButton* button : {form.OpenPortBtn, form.beepBtn, form.ClosePortBtn}) {
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(boxTexts(form), before);
        }
        QVERIFY(boxes.Boxes.isEmpty());
        QVERIFY(Journal().isEmpty());
        QVERIFY(form.isVisible());
    }

    void controlsWaitWhileARequestHoldsTheEncoder()
    {
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        QStringList disabled;
        bool stayedOpen = false;
        WhileBusy busy(form, *m_doorlock, [&](std::unique_lock<std::mutex>&) {
            // The window still handles events while the write waits for the encoder.
            for (QWidget* control : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!control->isEnabled() && !qobject_cast<QLabel*>(control))
                    disabled << control->objectName();
            QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton); // no second write
            stayedOpen = !form.close() && form.isVisible();
        });
        QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton);

        QVERIFY(busy.Ran);
        QCOMPARE(disabled.size(), 13);
        QVERIFY(stayedOpen);
        QCOMPARE(JournalCalls("W_Card"), 1);
        QCOMPARE(issueRecords().size(), 1);
        // The close asked for meanwhile happens once the write is done.
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(boxes.Boxes.isEmpty());
        QVERIFY(form.WriteCardBtn->isEnabled());
    }

    void requestServedWhileTheDialogIsOpen()
    {
        TTCPServer server([this](TConnection& connection, const QString& request) {
            TDoorlockMessageHandler handler(m_objects);
            handler.HandleMessage(connection, request);
        });
        server.Activate(0);
        const QByteArray readCard = "<DoorRequest type=\"ReadCard\"/>"_ba;
        const QByteArray answerFor0101 =
            u"<DoorResponse><RequestID></RequestID><ResultCode>200</ResultCode><ResultMessage>"
            "读卡成功</ResultMessage><CardNo>2024030514070101</CardNo></DoorResponse>"_s.toUtf8();

        layCard("0101+1+2024-03-05 14:07:00");
        MessageBoxRecorder boxes;
        TDoorlockTestForm form(m_objects);
        form.show();
        QCOMPARE(Exchange(server.Port(), readCard), answerFor0101);

        // A request arrives while the dialog's read waits for the encoder.
        QByteArray answerDuringRead;
        WhileBusy busy(form, *m_doorlock, [&](std::unique_lock<std::mutex>& hold) {
            hold.unlock();
            answerDuringRead = Exchange(server.Port(), readCard);
        });
        QTest::mouseClick(form.ReadCardBtn, Qt::LeftButton);
        QVERIFY(busy.Ran);
        QCOMPARE(answerDuringRead, answerFor0101);
        QCOMPARE(form.CardNoTxt->text(), u"2024030514070101"_s);

        // The card written in the dialog is the one the next request reads.
        QTest::mouseClick(form.WriteCardBtn, Qt::LeftButton);
        QVERIFY(Exchange(server.Port(), readCard)
                    .contains(QByteArray("<CardNo>" + DefaultCardNo.toLatin1())));
        QCOMPARE(JournalCalls("R_Card"), 4);
        QVERIFY(boxes.Boxes.isEmpty());
        server.Deactivate();
    }
};

QTEST_MAIN(TestDoorlockTestForm)
#include "tst_doorlocktestform.moc"
