#include "AboutFormUnit.h"
#include "ChangePasswordFormUnit.h"
#include "CheckPasswordFormUnit.h"
#include "DateTimeUnit.h"
#include "DoorlockTestFormUnit.h"
#include "LogFileUnit.h"
#include "MainFormUnit.h"
#include "MessageBoxRecorder.h"
#include "ModalDriver.h"
#include "OptionFormUnit.h"
#include "OptionUnit.h"
#include "SysOptionUnit.h"
#include "TCPServerUnit.h"
#include "VeltraKandorDoorlockUnit.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// Answers the password prompt with the given entry, or cancels it when entry is null.
void answerPrompt(const QString& entry)
{
    WhenModalShown([entry](QWidget* dialog) {
        auto* prompt = qobject_cast<TCheckPasswordForm*>(dialog);
        QVERIFY(prompt);
        if (entry.isNull()) {
            QTest::mouseClick(prompt->btnCancel, Qt::LeftButton);
            return;
        }
        prompt->edtPswd->setText(entry);
        QTest::mouseClick(prompt->btnOK, Qt::LeftButton);
        if (prompt->isVisible())
            QTest::mouseClick(prompt->btnCancel, Qt::LeftButton);
    });
}

// Answers the password prompt with the right password and then hands the dialog that the
// command opens next to the action.
void confirmPromptThen(std::function<void(QWidget*)> nextDialog)
{
    WhenModalShown([nextDialog](QWidget* dialog) {
        auto* prompt = qobject_cast<TCheckPasswordForm*>(dialog);
        QVERIFY(prompt);
        prompt->edtPswd->setText(u"tervix"_s);
        QTest::mouseClick(prompt->btnOK, Qt::LeftButton);
        // Only now: the next dialog may take the prompt's address, so it cannot be told
        // apart by that, but the prompt is already hidden.
        QVERIFY(!prompt->isVisible());
        WhenModalShown(nextDialog);
    });
}

bool connects(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(2000);
}

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TLogFile> m_log;
    std::unique_ptr<TOption> m_option;
    std::unique_ptr<TSysOption> m_sysOption;
    std::unique_ptr<TVeltraKandorDoorlock> m_doorlock;
    int m_optionsShown = 0;
    TProgramObjects m_objects;

    void writeIni(int port)
    {
        QFile ini(m_dir->filePath(u"Option.ini"_s));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[SysOption]\r\nDoorlockPortNo=" + QByteArray::number(port) + "\r\n");
    }

    void loadObjects()
    {
        const QString ini = m_dir->filePath(u"Option.ini"_s);
        m_log = std::make_unique<TLogFile>(m_dir->filePath(u"test.LOG"_s));
        m_option = std::make_unique<TOption>(ini);
        m_option->Load();
        m_sysOption = std::make_unique<TSysOption>(ini);
        m_sysOption->Load();
        m_doorlock = std::make_unique<TVeltraKandorDoorlock>(*m_option, *m_log);
        m_doorlock->SetOptionsDialog([this] { ++m_optionsShown; });
        m_objects = TProgramObjects{};
        m_objects.LogFile = m_log.get();
        m_objects.Option = m_option.get();
        m_objects.SysOption = m_sysOption.get();
        m_objects.CurrentDoorlock = m_doorlock.get();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_optionsShown = 0;
        writeIni(0); // any free port
        loadObjects();
    }

    void creationFixesFormatsTitleAndStartsListening()
    {
        DateTime::FixProcessFormats([] {
            TFormatSettings odd;
            odd.DateSeparator = u'/';
            odd.TimeSeparator = u'.';
            return odd;
        }());
        TMainForm form(m_objects);
        QCOMPARE(form.windowTitle(), u"QuorlinStayra门锁接口"_s);
        QCOMPARE(QCoreApplication::applicationName(), u"QuorlinStayra门锁接口"_s);
        QCOMPARE(form.InfoMemo->toPlainText(), u"门锁接口监听服务器已经启动..."_s);
        QVERIFY(form.TCPServer->IsActive());
        QVERIFY(connects(form.TCPServer->Port()));
        QCOMPARE(DateTime::StrToDateTime(u"2008-05-06 09:05:00"),
                 DateTime::EncodeDateTime(2008, 5, 6, 9, 5));
    }

    void commandsMenusAndToolBar()
    {
        TMainForm form(m_objects);
        QCOMPARE(form.OptionAction->text(), u"选项(&O)..."_s);
        QCOMPARE(form.ChangePasswordAction->text(), u"更改管理员密码(&C)"_s);
        QCOMPARE(form.AboutAction->text(), u"关于(&A)..."_s);
        QCOMPARE(form.ExitAction->text(), u"退出(&X)"_s);
        QCOMPARE(form.TestAction->text(), u"测试(&T)"_s);
        QVERIFY(form.TestAction->icon().isNull());

        QStringList menus;
        for (QAction* menu : form.MainMenu->actions())
            menus << menu->text();
        QCOMPARE(menus, (QStringList{u"文件(&F)"_s, u"工具(&T)"_s, u"帮助(&H)"_s}));
        const QList<QAction*> tools = form.MainMenu->actions().at(1)->menu()->actions();
        QCOMPARE(tools, (QList<QAction*>{form.OptionMenuItem, form.T1, form.N1,
                                         form.ChangePasswordMenuItem}));
        QVERIFY(form.N1->isSeparator());

        QStringList buttons;
        for (QObject* child : form.ToolBar->children())
            if (auto* button = qobject_cast<QToolButton*>(child); button && button->defaultAction())
                buttons << button->objectName();
        QCOMPARE(buttons, (QStringList{u"OptionButton"_s, u"ChangePasswordButton"_s,
                                       u"HelpButton"_s, u"ExitButton"_s}));
        QCOMPARE(form.ToolBar->iconSize(), QSize(16, 16));
    }

    void portInUseShowsErrorAndWindowStillOpens()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::AnyIPv4));
        writeIni(holder.serverPort());
        loadObjects();
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text,
                 u"Could not bind socket. Address and port are already in use."_s);
        QCOMPARE(boxes.Boxes[0].Caption, u"QuorlinStayra门锁接口"_s);
        QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Error);
        QCOMPARE(form.InfoMemo->toPlainText(), u"门锁接口监听服务器已经启动..."_s);
        QVERIFY(!form.TCPServer->IsActive());
    }

    void closeNeedsThePassword_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("closes");
        QTest::newRow("wrong") << u"wrong"_s << false;
        QTest::newRow("cancelled") << QString() << false;
        QTest::newRow("right") << u"tervix"_s << true;
    }
    void closeNeedsThePassword()
    {
        QFETCH(QString, entry);
        QFETCH(bool, closes);
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        form.show();
        answerPrompt(entry);
        QCOMPARE(form.close(), closes);
        QCOMPARE(form.isVisible(), !closes);
        // The listener keeps serving until the window is destroyed.
        QVERIFY(connects(form.TCPServer->Port()));
    }

    void exitCommandGoesThroughThePrompt()
    {
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        form.show();
        answerPrompt(QString());
        form.ExitAction->trigger();
        QVERIFY(form.isVisible());
        answerPrompt(u"tervix"_s);
        form.ExitMenuItem->trigger();
        QVERIFY(!form.isVisible());
    }

    void optionsAskForThePassword()
    {
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        answerPrompt(QString());
        form.OptionAction->trigger();
        QCOMPARE(m_optionsShown, 0);
        answerPrompt(u"tervix"_s);
        form.OptionButton->click();
        QCOMPARE(m_optionsShown, 1);
    }

    void optionsWithoutDeviceDoNothing()
    {
        m_objects.CurrentDoorlock = nullptr;
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        answerPrompt(u"tervix"_s);
        form.OptionAction->trigger();
        QCOMPARE(m_optionsShown, 0);
        QVERIFY(boxes.Boxes.isEmpty());
    }

    void changePasswordNeedsThePasswordFirst()
    {
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        answerPrompt(u"wrong"_s);
        form.ChangePasswordAction->trigger();
        QCOMPARE(m_sysOption->Password(), u"tervix"_s);
        QCOMPARE(boxes.Boxes.size(), 1); // only the prompt's refusal

        QWidget* owner = nullptr;
        confirmPromptThen([&owner](QWidget* dialog) {
            auto* change = qobject_cast<TChangePasswordForm*>(dialog);
            QVERIFY(change);
            owner = change->parentWidget();
            change->edtPswd->setText(u"sunrise"_s);
            change->edtConfirmPswd->setText(u"sunrise"_s);
            QTest::mouseClick(change->btnOK, Qt::LeftButton);
        });
        form.ChangePasswordButton->click();
        QCOMPARE(owner, &form);
        QCOMPARE(boxes.Boxes.last().Text, u"管理员密码更改成功！"_s);
        QCOMPARE(m_sysOption->Password(), u"sunrise"_s);
        TSysOption reloaded(m_dir->filePath(u"Option.ini"_s));
        reloaded.Load();
        QCOMPARE(reloaded.Password(), u"sunrise"_s);
    }

    void optionsShowTheEncoderDialog()
    {
        m_doorlock->SetOptionsDialog([this] { ShowOptionForm(*m_option); });
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        confirmPromptThen([](QWidget* dialog) {
            auto* options = qobject_cast<TOptionForm*>(dialog);
            QVERIFY(options);
            QVERIFY(!options->parentWidget());
            options->PortNameCmb->setCurrentIndex(3);
            QTest::mouseClick(options->OKBtn, Qt::LeftButton);
        });
        form.OptionMenuItem->trigger();
        QCOMPARE(m_option->PortName(), u"COM4"_s);
        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text, u"请重新启动程序,以启用设置的参数！"_s);
    }

    void aboutAsksForNoPassword()
    {
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        bool shown = false;
        WhenModalShown([&shown](QWidget* dialog) {
            auto* about = qobject_cast<TAboutForm*>(dialog);
            QVERIFY(about);
            QVERIFY(!about->parentWidget());
            shown = about->windowTitle() == u"关于 QuorlinStayra门锁接口"_s;
            QTest::mouseClick(about->btnOK, Qt::LeftButton);
        });
        form.HelpButton->click();
        QVERIFY(shown);
        QVERIFY(boxes.Boxes.isEmpty());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void testOpensTheTestDialogWithoutThePassword()
    {
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        QString caption;
        bool hasOwner = true;
        // The first modal window is the test dialog itself, not a password prompt.
        WhenModalShown([&](QWidget* dialog) {
            auto* test = qobject_cast<TDoorlockTestForm*>(dialog);
            QVERIFY(test);
            caption = test->windowTitle();
            hasOwner = test->parentWidget() != nullptr;
            test->close();
        });
        form.T1->trigger();
        QCOMPARE(caption, u"测试"_s);
        QVERIFY(!hasOwner);
        QVERIFY(boxes.Boxes.isEmpty());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void testWithoutDeviceDoesNothing()
    {
        m_objects.CurrentDoorlock = nullptr;
        MessageBoxRecorder boxes;
        TMainForm form(m_objects);
        // Closes whatever might open, so a fault shows as a failure rather than a hang.
        bool opened = false;
        QTimer guard;
        guard.setInterval(10);
        connect(&guard, &QTimer::timeout, &guard, [&opened] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                opened = true;
                modal->close();
            }
        });
        guard.start();
        form.TestAction->trigger();
        QVERIFY(!opened);
        QVERIFY(boxes.Boxes.isEmpty());
    }

    void destructionStopsTheListener()
    {
        quint16 port = 0;
        {
            TMainForm form(m_objects);
            port = form.TCPServer->Port();
            QVERIFY(connects(port));
        }
        QVERIFY(!connects(port));
    }

    void shutdownSignalSkipsThePrompt()
    {
        TProgramObjects objects = m_objects;
        QTimer::singleShot(50, [&objects] { objects.MainForm->CloseWithoutPassword(); });
        RunDoorlockInterface(objects, m_doorlock.get());
        QVERIFY(!objects.MainForm);
        QCOMPARE(objects.CurrentDoorlock, m_doorlock.get());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
