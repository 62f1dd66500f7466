// Child process of the record store's tests: adds issue records one after another and prints
// the number of each record once AddIssueCardRecord has returned, until it is killed.
//   tst_records_writer <log> <driver> <database> [<host> <port> <user>]

#include "DoorlockRecordManagerUnit.h"
#include "LogFileUnit.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 7) {
        std::fprintf(stderr, "usage: tst_records_writer <log> <driver> <database> "
                             "[<host> <port> <user>]\n");
        return 2;
    }
    TDatabaseSettings settings;
    settings.Driver = args.at(2);
    settings.Database = args.at(3);
    if (args.size() == 7) {
        settings.Host = args.at(4);
        settings.Port = args.at(5).toInt();
        settings.User = args.at(6);
    }

    TLogFile log(args.at(1));
    TDoorlockRecordManager store(log);
    store.Open(settings);
    // Bounded, so that a child whose parent vanished without killing it still ends.
    for (long long i = 1; i <= 100000; ++i) {
        store.AddIssueCardRecord(QString::number(i), u"2008050712001101"_s, u"0101101"_s, 1,
                                 45356.58472222222, 45356.5, 45358.5, false, u"张三"_s,
                                 45356.58472222222 + i);
        if (std::printf("%lld\n", i) < 0 || std::fflush(stdout) != 0)
            return 1;
    }
    return 0;
}
