#include "AboutFormUnit.h"
#include "ModalDriver.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList shownTexts(const TAboutForm& form)
{
    return {form.windowTitle(), form.lblAppTitle->text(), form.lblVersion->text(),
            form.lblCopyright->text(), form.lblCompany->text()};
}

} // namespace

class TestAboutForm : public QObject
{
    Q_OBJECT

private slots:
    void layout()
    {
        TAboutForm form;
        QCOMPARE(form.size(), QSize(413, 262));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.font().family(), u"宋体"_s);
        QCOMPARE(form.font().pointSize(), 9);
        QCOMPARE(form.Image1->geometry(), QRect(12, 12, 132, 238));
        QCOMPARE(form.Image1->pixmap().size(), QSize(132, 238));
        QCOMPARE(form.lblAppTitle->pos(), QPoint(156, 16));
        QCOMPARE(form.lblVersion->pos(), QPoint(156, 35));
        QCOMPARE(form.lblCopyright->pos(), QPoint(156, 53));
        QCOMPARE(form.lblCompany->pos(), QPoint(156, 72));
        QCOMPARE(form.mmo->geometry(), QRect(156, 96, 245, 125));
        QCOMPARE(form.mmo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(form.btnOK->text(), u"确定(&O)"_s);
        QCOMPARE(form.btnOK->geometry(), QRect(330, 230, 73, 23));
        QVERIFY(form.btnOK->isDefault());
    }

    void textsAreTheSameEveryTime()
    {
        QStringList first;
        {
            TAboutForm form;
            first = shownTexts(form);
        }
        TAboutForm again;
        QCOMPARE(shownTexts(again), first);
        QCOMPARE(first.at(0), u"关于 QuorlinStayra门锁接口"_s);
        QCOMPARE(first.at(1), u"QuorlinStayra门锁接口"_s);
        QCOMPARE(first.at(2), u"版本 1.0.0.0"_s);
        QVERIFY(first.at(3).contains(u"©"_s));
        QVERIFY(!first.at(4).isEmpty());
    }

    void labelsGrowWithTheirTextAndStayInside()
    {
        TAboutForm form;
        for (QLabel* label :
             {form.lblAppTitle, form.lblVersion, form.lblCopyright, form.lblCompany}) {
            const int textWidth = label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(label->width() >= textWidth, qPrintable(label->objectName()));
            QVERIFY2(label->geometry().right() < form.width(), qPrintable(label->objectName()));
        }
    }

    void textAreaIsEmptyAndTakesNoInput()
    {
        TAboutForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QVERIFY(!form.mmo->isEnabled());
        QVERIFY(form.mmo->toPlainText().isEmpty());
        form.mmo->setFocus();
        QVERIFY(!form.mmo->hasFocus());
        QCOMPARE(form.focusWidget(), form.btnOK);
        QTest::keyClicks(form.mmo, u"typed"_s);
        QTest::mouseClick(form.mmo->viewport(), Qt::LeftButton);
        QVERIFY(form.mmo->toPlainText().isEmpty());
    }

    void closeWays_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<int>("result");
        QTest::newRow("OK button") << 0 << int(QDialog::Accepted);
        QTest::newRow("enter") << 1 << int(QDialog::Accepted);
        QTest::newRow("close box") << 2 << int(QDialog::Rejected);
    }
    void closeWays()
    {
        QFETCH(int, way);
        QFETCH(int, result);
        TAboutForm form;
        WhenModalShown([way](QWidget* dialog) {
            auto* about = qobject_cast<TAboutForm*>(dialog);
            QVERIFY(about);
            if (way == 0)
                QTest::mouseClick(about->btnOK, Qt::LeftButton);
            else if (way == 1)
                QTest::keyClick(about->btnOK, Qt::Key_Return);
            else
                about->close();
        });
        QCOMPARE(form.exec(), result);
        QVERIFY(!form.isVisible());
    }

    void escapeDoesNotClose()
    {
        TAboutForm form;
        bool stayedOpen = false;
        WhenModalShown([&stayedOpen](QWidget* dialog) {
            auto* about = qobject_cast<TAboutForm*>(dialog);
            QVERIFY(about);
            QTest::keyClick(about->btnOK, Qt::Key_Escape);
            QTest::keyClick(about, Qt::Key_Escape);
            stayedOpen = about->isVisible();
            QTest::mouseClick(about->btnOK, Qt::LeftButton);
        });
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QVERIFY(stayedOpen);
    }

    void showAboutFormReturnsWhenClosed()
    {
        WhenModalShown([](QWidget* dialog) {
            QVERIFY(qobject_cast<TAboutForm*>(dialog));
            dialog->close();
        });
        ShowAboutForm();
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestAboutForm)
#include "tst_aboutform.moc"
