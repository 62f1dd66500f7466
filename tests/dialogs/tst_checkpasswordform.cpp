#include "CheckPasswordFormUnit.h"
#include "MessageBoxRecorder.h"
#include "ModalDriver.h"
#include "PasswordTextUnit.h"
#include "SysOptionUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

class TestCheckPasswordForm : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    std::unique_ptr<TSysOption> passwordSettings(const QString& password)
    {
        auto sysOption = std::make_unique<TSysOption>(m_dir.filePath(u"Option.ini"_s));
        sysOption->Load();
        sysOption->SetPassword(password);
        return sysOption;
    }

private slots:
    void trimming_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << u"tervix"_s << u"tervix"_s;
        QTest::newRow("blanks around") << u"  tervix \t"_s << u"tervix"_s;
        QTest::newRow("control characters") << u"\u0001\ntervix\r\u001f"_s << u"tervix"_s;
        QTest::newRow("inner blanks kept") << u" ter vix "_s << u"ter vix"_s;
        QTest::newRow("blanks only") << u"   "_s << QString();
        QTest::newRow("code 33 kept") << u"!x!"_s << u"!x!"_s;
    }
    void trimming()
    {
        QFETCH(QString, entry);
        QFETCH(QString, expected);
        QCOMPARE(TrimPasswordEntry(entry), expected);
    }

    void layout()
    {
        TSysOption sysOption(m_dir.filePath(u"Option.ini"_s));
        TCheckPasswordForm form(sysOption, nullptr);
        QCOMPARE(form.windowTitle(), u"请输入管理员密码"_s);
        QCOMPARE(form.size(), QSize(306, 140));
        QCOMPARE(form.btnOK->text(), u"确定"_s);
        QVERIFY(form.btnOK->isDefault());
        QCOMPARE(form.btnCancel->text(), u"取消"_s);
        QCOMPARE(form.edtPswd->echoMode(), QLineEdit::Password);
        QCOMPARE(form.edtPswd->geometry(), QRect(128, 36, 153, 20));
        QCOMPARE(form.Image1->pixmap().size(), QSize(32, 32));
        QCOMPARE(form.edtPswd->nextInFocusChain(), form.btnOK);
    }

    void entries_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right") << u"tervix"_s << u"tervix"_s << true;
        QTest::newRow("right with blanks") << u"tervix"_s << u"  tervix  "_s << true;
        QTest::newRow("other case") << u"tervix"_s << u"TERVIX"_s << false;
        QTest::newRow("empty entry") << u"tervix"_s << QString() << false;
        QTest::newRow("empty password, blanks") << QString() << u"   "_s << true;
        QTest::newRow("chinese password") << u"前台密码"_s << u"前台密码"_s << true;
    }
    void entries()
    {
        QFETCH(QString, password);
        QFETCH(QString, entry);
        QFETCH(bool, accepted);
        MessageBoxRecorder boxes;
        auto sysOption = passwordSettings(password);
        TCheckPasswordForm form(*sysOption, nullptr);
        form.show();
        form.edtPswd->setText(entry);
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        if (accepted) {
            QCOMPARE(form.result(), int(QDialog::Accepted));
            QVERIFY(boxes.Boxes.isEmpty());
        } else {
            // Refused: the prompt says so and stays open with the entry as it was.
            QVERIFY(form.isVisible());
            QCOMPARE(boxes.Boxes.size(), 1);
            QCOMPARE(boxes.Boxes[0].Text, u"密码错误 ！"_s);
            QCOMPARE(boxes.Boxes[0].Caption, u"提示"_s);
            QCOMPARE(boxes.Boxes[0].BoxIcon, TMessageBox::Icon::Error);
            QCOMPARE(form.edtPswd->text(), entry);
        }
    }

    void wrongThenRight()
    {
        MessageBoxRecorder boxes;
        auto sysOption = passwordSettings(u"tervix"_s);
        bool result = true;
        WhenModalShown([](QWidget* dialog) {
            auto* form = static_cast<TCheckPasswordForm*>(dialog);
            QTest::keyClicks(form->edtPswd, u"wrong"_s);
            QTest::keyClick(form->edtPswd, Qt::Key_Return);
            QVERIFY(form->isVisible());
            form->edtPswd->clear();
            QTest::keyClicks(form->edtPswd, u"tervix"_s);
            QTest::keyClick(form->edtPswd, Qt::Key_Return);
        });
        result = CheckAdminPassword(*sysOption, nullptr);
        QVERIFY(result);
        QCOMPARE(boxes.Boxes.size(), 1);
    }

    void cancelWays_data()
    {
        QTest::addColumn<TCancelWay>("way");
        for (const auto& [name, way] : CancelWays)
            QTest::newRow(name) << way;
    }
    void cancelWays()
    {
        QFETCH(TCancelWay, way);
        auto sysOption = passwordSettings(u"tervix"_s);
        WhenModalShown([way](QWidget* dialog) {
            auto* form = static_cast<TCheckPasswordForm*>(dialog);
            form->edtPswd->setText(u"tervix"_s);
            CancelDialog(form, way, form->btnCancel, form->edtPswd);
        });
        QVERIFY(!CheckAdminPassword(*sysOption, nullptr));
    }
};

QTEST_MAIN(TestCheckPasswordForm)
#include "tst_checkpasswordform.moc"
