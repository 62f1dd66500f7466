#include "BackgroundCallUnit.h"
#include "DoorlockError.h"

#include <QTest>
#include <QTimer>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

class TestBackgroundCall : public QObject
{
    Q_OBJECT

private slots:
    void givesTheResultOfWorkDoneOnAnotherThread()
    {
        const std::thread::id caller = std::this_thread::get_id();
        const auto worker = BackgroundCall::Call([] { return std::this_thread::get_id(); });
        QVERIFY(worker != caller);

        auto owned = BackgroundCall::Call([] { return std::make_unique<QString>(u"card"_s); });
        QCOMPARE(*owned, u"card"_s);

        int calls = 0;
        BackgroundCall::Run([&calls] { ++calls; });
        QCOMPARE(calls, 1);
    }

    void rethrowsTheErrorOnTheCallingThread()
    {
        try {
            BackgroundCall::Call([]() -> int { throw DoorlockError(u"encoder gone"_s); });
            QFAIL("no error");
        } catch (const DoorlockError& error) {
            QCOMPARE(error.message(), u"encoder gone"_s);
        }
        // Nothing is left behind: the next call works.
        QCOMPARE(BackgroundCall::Call([] { return 7; }), 7);
    }

    void callerKeepsHandlingEventsWhileItWaits()
    {
        // The work can only end once a timer of the calling thread has fired.
        std::promise<void> release;
        std::future<void> released = release.get_future();
        QTimer::singleShot(0, [&release] { release.set_value(); });
        const bool waited = BackgroundCall::Call(
            [&released] { return released.wait_for(60s) == std::future_status::ready; });
        QVERIFY(waited);
    }

    void callsNestWhenAnEventStartsAnother()
    {
        std::promise<void> innerDone;
        std::future<void> innerDoneFuture = innerDone.get_future();
        int inner = 0;
        QTimer::singleShot(0, [&] {
            inner = BackgroundCall::Call([] { return 2; });
            innerDone.set_value();
        });
        const int outer = BackgroundCall::Call([&innerDoneFuture] {
            return innerDoneFuture.wait_for(60s) == std::future_status::ready ? 1 : 0;
        });
        QCOMPARE(outer, 1);
        QCOMPARE(inner, 2);
    }
};

QTEST_GUILESS_MAIN(TestBackgroundCall)
#include "tst_backgroundcall.moc"
