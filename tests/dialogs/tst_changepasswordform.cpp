#include "ChangePasswordFormUnit.h"
#include "CheckPasswordFormUnit.h"
#include "MessageBoxRecorder.h"
#include "ModalDriver.h"
#include "SysOptionUnit.h"
#include "TempIniFile.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// Answers the next password prompt with the entry and reports whether it was accepted; a
// refused entry is followed by Cancel so the prompt ends either way.
bool promptAccepts(TSysOption& sysOption, const QString& entry)
{
    WhenModalShown([entry](QWidget* dialog) {
        auto* prompt = qobject_cast<TCheckPasswordForm*>(dialog);
        QVERIFY(prompt);
        prompt->edtPswd->setText(entry);
        QTest::mouseClick(prompt->btnOK, Qt::LeftButton);
        if (prompt->isVisible())
            QTest::mouseClick(prompt->btnCancel, Qt::LeftButton);
    });
    return CheckAdminPassword(sysOption, nullptr);
}

// Runs the change dialog the way the main window does, fills both entries and presses Enter.
void changeThroughDialog(TSysOption& sysOption, const QString& entry, const QString& confirm)
{
    WhenModalShown([entry, confirm](QWidget* dialog) {
        auto* form = qobject_cast<TChangePasswordForm*>(dialog);
        QVERIFY(form);
        form->edtPswd->setText(entry);
        form->edtConfirmPswd->setText(confirm);
        QTest::keyClick(form->edtConfirmPswd, Qt::Key_Return);
        if (form->isVisible())
            QTest::mouseClick(form->btnCancel, Qt::LeftButton);
    });
    ChangeAdminPassword(sysOption, nullptr);
}

// Shows the form, fills both entries and presses OK.
void showAndSubmit(TChangePasswordForm& form, const QString& entry, const QString& confirm)
{
    form.show();
    form.edtPswd->setText(entry);
    form.edtConfirmPswd->setText(confirm);
    QTest::mouseClick(form.btnOK, Qt::LeftButton);
}

} // namespace

class TestChangePasswordForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTempIniFile> m_ini;

    std::unique_ptr<TSysOption> loadedSettings() const { return m_ini->Loaded<TSysOption>(); }

private slots:
    void init()
    {
        m_ini = std::make_unique<TTempIniFile>();
        QVERIFY(m_ini->Dir.isValid());
    }

    void layout()
    {
        auto sysOption = loadedSettings();
        TChangePasswordForm form(*sysOption, nullptr);
        QCOMPARE(form.windowTitle(), u"更改管理员密码"_s);
        QCOMPARE(form.size(), QSize(346, 163));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.font().family(), u"宋体"_s);
        QCOMPARE(form.font().pixelSize(), 12);
        QCOMPARE(form.Image1->geometry(), QRect(28, 24, 48, 48));
        QCOMPARE(form.Image1->pixmap().size(), QSize(48, 48));
        QCOMPARE(form.Label1->text(), u"新密码："_s);
        QCOMPARE(form.Label1->geometry(), QRect(124, 32, 48, 12));
        QCOMPARE(form.Label2->text(), u"新密码确认："_s);
        QCOMPARE(form.Label2->geometry(), QRect(100, 68, 72, 12));
        QCOMPARE(form.edtPswd->geometry(), QRect(176, 28, 137, 20));
        QCOMPARE(form.edtConfirmPswd->geometry(), QRect(176, 64, 137, 20));
        QCOMPARE(form.edtPswd->echoMode(), QLineEdit::Password);
        QCOMPARE(form.edtConfirmPswd->echoMode(), QLineEdit::Password);
        QVERIFY(form.edtPswd->text().isEmpty());
        QVERIFY(form.edtConfirmPswd->text().isEmpty());
        QCOMPARE(form.btnOK->text(), u"确定"_s);
        QCOMPARE(form.btnOK->geometry(), QRect(154, 116, 73, 23));
        QVERIFY(form.btnOK->isDefault());
        QCOMPARE(form.btnCancel->text(), u"取消"_s);
        QCOMPARE(form.btnCancel->geometry(), QRect(242, 116, 73, 23));
        QVERIFY(!form.btnCancel->isDefault());
    }

    void tabOrder()
    {
        auto sysOption = loadedSettings();
        TChangePasswordForm form(*sysOption, nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.edtPswd);
        for (QWidget* next :
             QList<QWidget*>{form.edtConfirmPswd, form.btnOK, form.btnCancel, form.edtPswd}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void centredOverItsOwner()
    {
        QWidget owner;
        owner.setGeometry(60, 40, 600, 450);
        owner.show();
        auto sysOption = loadedSettings();
        TChangePasswordForm form(*sysOption, &owner);
        form.show();
        const QPoint offset = form.geometry().center() - owner.geometry().center();
        QVERIFY2(offset.manhattanLength() <= 40, "the dialog sits over the middle of its owner");
    }

    void mismatchChangesNothing_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("confirm");
        QTest::newRow("different words") << u"sunrise"_s << u"sunset"_s;
        QTest::newRow("letter case") << u"sunrise"_s << u"Sunrise"_s;
        QTest::newRow("confirmation empty") << u"sunrise"_s << QString();
        QTest::newRow("inner blank") << u"sun rise"_s << u"sunrise"_s;
    }
    void mismatchChangesNothing()
    {
        QFETCH(QString, entry);
        QFETCH(QString, confirm);
        const QByteArray before = "[SysOption]\r\nPassword=tervix\r\n";
        m_ini->Write(before);
        auto sysOption = loadedSettings();
        MessageBoxRecorder boxes;
        TChangePasswordForm form(*sysOption, nullptr);
        showAndSubmit(form, entry, confirm);

        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text, u"您两次输入的密码不一致，请重新输入！"_s);
        QCOMPARE(boxes.Boxes[0].Caption, u"提示"_s);
        QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Error);
        QVERIFY(form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(form.edtPswd->text(), entry);
        QCOMPARE(form.edtConfirmPswd->text(), confirm);
        QCOMPARE(sysOption->Password(), u"tervix"_s);
        QCOMPARE(m_ini->Read(), before);
    }

    void entriesAreTrimmedBeforeComparing()
    {
        auto sysOption = loadedSettings();
        MessageBoxRecorder boxes;
        changeThroughDialog(*sysOption, u"  sunrise\t"_s, u"sunrise   "_s);
        QCOMPARE(sysOption->Password(), u"sunrise"_s);
        QCOMPARE(m_ini->Value(u"SysOption"_s, u"Password"_s), u"sunrise"_s);
    }

    void successWritesAllNineKeys()
    {
        // Hand-written forms: hex, a missing key, a boolean word, a boolean 2, and lines of
        // other owners that must survive.
        m_ini->Write("; front desk\r\n"
                     "[SysOption]\r\n"
                     "Password=tervix\r\n"
                     "DoorlockPortNo=9100\r\n"
                     "PolicePortNo=0x10\r\n"
                     "MemberPortNo=$20\r\n"
                     "[DoorlockOption]\r\n"
                     "PortName=COM4\r\n"
                     "DelayMinutes=30\r\n"
                     "DelayMinutes2=-15\r\n"
                     "UseNativeDoorlockDb=2\r\n"
                     "SaveDoorlockRecord=true\r\n"
                     "[Database]\r\n"
                     "Driver=QSQLITE\r\n");
        auto sysOption = loadedSettings();
        MessageBoxRecorder boxes;
        TChangePasswordForm form(*sysOption, nullptr);
        showAndSubmit(form, u"sunrise"_s, u"sunrise"_s);

        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text, u"管理员密码更改成功！"_s);
        QCOMPARE(boxes.Boxes[0].Caption, u"提示"_s);
        QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Information);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        QCOMPARE(sysOption->Password(), u"sunrise"_s);

        const QString sys = u"SysOption"_s;
        const QString doorlock = u"DoorlockOption"_s;
        QCOMPARE(m_ini->Value(sys, u"Password"_s), u"sunrise"_s);
        QCOMPARE(m_ini->Value(sys, u"DoorlockPortNo"_s), u"9100"_s);
        QCOMPARE(m_ini->Value(sys, u"PolicePortNo"_s), u"16"_s);
        QCOMPARE(m_ini->Value(sys, u"MemberPortNo"_s), u"32"_s);
        QCOMPARE(m_ini->Value(sys, u"ScanPortNo"_s), u"8881"_s);
        QCOMPARE(m_ini->Value(doorlock, u"DelayMinutes"_s), u"30"_s);
        QCOMPARE(m_ini->Value(doorlock, u"DelayMinutes2"_s), u"-15"_s);
        QCOMPARE(m_ini->Value(doorlock, u"UseNativeDoorlockDb"_s), u"1"_s);
        QCOMPARE(m_ini->Value(doorlock, u"SaveDoorlockRecord"_s), u"0"_s);
        QCOMPARE(m_ini->Value(doorlock, u"PortName"_s), u"COM4"_s);
        QCOMPARE(m_ini->Value(u"Database"_s, u"Driver"_s), u"QSQLITE"_s);
        QVERIFY(m_ini->Read().startsWith("; front desk\r\n"));
    }

    void emptyPasswordIsSetAndAccepted()
    {
        auto sysOption = loadedSettings();
        MessageBoxRecorder boxes;
        changeThroughDialog(*sysOption, QString(), QString());
        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text, u"管理员密码更改成功！"_s);
        QCOMPARE(sysOption->Password(), QString());
        // Present with an empty value, not missing (which would mean the default again).
        QCOMPARE(m_ini->Value(u"SysOption"_s, u"Password"_s), QString());

        QVERIFY(promptAccepts(*sysOption, QString()));
        QVERIFY(promptAccepts(*sysOption, u"   "_s));
        QVERIFY(!promptAccepts(*sysOption, u"tervix"_s));

        // As after a restart: the settings read afresh from the file.
        auto restarted = loadedSettings();
        QCOMPARE(restarted->Password(), QString());
        QVERIFY(promptAccepts(*restarted, u" \t "_s));
        QVERIFY(!promptAccepts(*restarted, u"tervix"_s));
    }

    void promptTakesTheNewPasswordAndRefusesTheOld()
    {
        auto sysOption = loadedSettings();
        MessageBoxRecorder boxes;
        QVERIFY(promptAccepts(*sysOption, u"tervix"_s));
        changeThroughDialog(*sysOption, u"前台2024"_s, u"前台2024"_s);
        QVERIFY(promptAccepts(*sysOption, u"前台2024"_s));
        QVERIFY(!promptAccepts(*sysOption, u"tervix"_s));

        auto restarted = loadedSettings();
        QVERIFY(promptAccepts(*restarted, u"前台2024"_s));
        QVERIFY(!promptAccepts(*restarted, u"tervix"_s));
    }

    void failedSaveShowsTheErrorAndKeepsTheDialogOpen()
    {
        // A folder where the file should be: the settings cannot be written.
        QVERIFY(QDir(m_ini->Dir.path()).mkdir(u"Option.ini"_s));
        auto sysOption = loadedSettings();
        MessageBoxRecorder boxes;
        TChangePasswordForm form(*sysOption, nullptr);
        showAndSubmit(form, u"sunrise"_s, u"sunrise"_s);

        QCOMPARE(boxes.Boxes.size(), 1);
        QCOMPARE(boxes.Boxes[0].Text, u"Unable to write to "_s + m_ini->Path + u'.');
        QCOMPARE(boxes.Boxes[0].Caption, ApplicationTitle());
        QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Error);
        QVERIFY(form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        // In force for the rest of the run although the file could not take it.
        QCOMPARE(sysOption->Password(), u"sunrise"_s);
        QVERIFY(promptAccepts(*sysOption, u"sunrise"_s));
    }

    void cancelChangesNothing_data()
    {
        QTest::addColumn<TCancelWay>("way");
        for (const auto& [name, way] : CancelWays)
            QTest::newRow(name) << way;
    }
    void cancelChangesNothing()
    {
        QFETCH(TCancelWay, way);
        const QByteArray before = "[SysOption]\r\nPassword=tervix\r\nPolicePortNo=0x10\r\n";
        m_ini->Write(before);
        auto sysOption = loadedSettings();
        MessageBoxRecorder boxes;
        WhenModalShown([way](QWidget* dialog) {
            auto* form = qobject_cast<TChangePasswordForm*>(dialog);
            QVERIFY(form);
            form->edtPswd->setText(u"sunrise"_s);
            form->edtConfirmPswd->setText(u"sunrise"_s);
            CancelDialog(form, way, form->btnCancel, form->edtConfirmPswd);
        });
        ChangeAdminPassword(*sysOption, nullptr);
        QVERIFY(boxes.Boxes.isEmpty());
        QCOMPARE(sysOption->Password(), u"tervix"_s);
        QCOMPARE(m_ini->Read(), before);
    }
};

QTEST_MAIN(TestChangePasswordForm)
#include "tst_changepasswordform.moc"
