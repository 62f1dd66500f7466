// The raw cost of what the record store does for each new card with both record switches on:
// two durable SQLite commits (the room's last check-in time, then the issue record), with the
// store's own settings, on a copy of Client.db. The limit beside the card overhead benchmark.
//   sqlite-commit-cost --db <Client.db> [--dir <folder for the copy>] [--pairs N]
#include "LatencySummaryUnit.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <cstdio>
#include <stdexcept>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TArguments
{
    QString Database;
    QString Folder = QDir::tempPath();
    int Pairs = 100;
};

bool ParseArguments(const QStringList& arguments, TArguments& parsed)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (i + 1 >= arguments.size())
            return false;
        const QString& value = arguments[++i];
        if (name == u"--db"_s) {
            parsed.Database = value;
        } else if (name == u"--dir"_s) {
            parsed.Folder = value;
        } else if (name == u"--pairs"_s) {
            bool ok = false;
            parsed.Pairs = value.toInt(&ok);
            if (!ok || parsed.Pairs < 1 || parsed.Pairs > 100'000)
                return false;
        } else {
            return false;
        }
    }
    return !parsed.Database.isEmpty();
}

void Exec(QSqlQuery& query)
{
    if (!query.exec())
        throw std::runtime_error(query.lastError().text().toStdString());
}

// Opens the copy exactly as the record store opens Client.db.
QSqlDatabase OpenLikeTheStore(const QString& file)
{
    QSqlDatabase database = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"commit-cost"_s);
    database.setDatabaseName(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded) +
                             u"?mode=rw"_s);
    database.setConnectOptions(u"QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"_s);
    if (!database.open())
        throw std::runtime_error(database.lastError().text().toStdString());
    for (const QString& pragma : {u"PRAGMA journal_mode=DELETE"_s, u"PRAGMA synchronous=EXTRA"_s}) {
        QSqlQuery query(database);
        if (!query.exec(pragma))
            throw std::runtime_error(query.lastError().text().toStdString());
    }
    return database;
}

std::vector<std::uint64_t> MeasurePairs(QSqlDatabase& database, int pairs)
{
    const QString room = u"0108"_s + u"0801"_s;
    QSqlQuery insertRoom(database);
    insertRoom.prepare(
        u"insert into T_Room(RoomNo, LastCheckInTime) Values(:RoomNo, :LastCheckInTime)"_s);
    insertRoom.bindValue(u":RoomNo"_s, room);
    insertRoom.bindValue(u":LastCheckInTime"_s, 47000.5);
    Exec(insertRoom);

    QSqlQuery update(database);
    update.prepare(u"update T_Room set LastCheckInTime=:LastCheckInTime where RoomNo=:RoomNo"_s);
    QSqlQuery record(database);
    record.prepare(u"insert into T_IssueCardRecord(RegisterId, CardNo, RoomNo, CardType, "
                   u"LastCheckInTime, CheckInTime, CheckOutTime, IsCopy, GuestName, OpratingTime)"
                   u"\r\n"
                   u" Values(:RegisterId, :CardNo, :RoomNo, :CardType, :LastCheckInTime, "
                   u":CheckInTime, :CheckOutTime, :IsCopy, :GuestName, :OpratingTime)"_s);

    std::vector<std::uint64_t> samples;
    samples.reserve(std::size_t(pairs));
    for (int i = 0; i < pairs; ++i) {
        const double now = 47000.5 + i / 1440.0;
        QElapsedTimer timer;
        timer.start();
        update.bindValue(u":LastCheckInTime"_s, now);
        update.bindValue(u":RoomNo"_s, room);
        Exec(update);
        update.finish();
        record.bindValue(u":RegisterId"_s, u"B000000"_s);
        record.bindValue(u":CardNo"_s, u"2030030712000801"_s);
        record.bindValue(u":RoomNo"_s, room);
        record.bindValue(u":CardType"_s, 1);
        record.bindValue(u":LastCheckInTime"_s, now);
        record.bindValue(u":CheckInTime"_s, 47000.5);
        record.bindValue(u":CheckOutTime"_s, 47002.5);
        record.bindValue(u":IsCopy"_s, false);
        record.bindValue(u":GuestName"_s, u"Bench Guest"_s);
        record.bindValue(u":OpratingTime"_s, now);
        Exec(record);
        record.finish();
        samples.push_back(std::uint64_t(timer.nsecsElapsed() / 1000));
    }
    return samples;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TArguments arguments;
    if (!ParseArguments(QCoreApplication::arguments(), arguments)) {
        std::fprintf(stderr, "usage: sqlite-commit-cost --db <Client.db> [--dir <folder>] "
                             "[--pairs N (1-100000, default 100)]\n");
        return 2;
    }

    // The copy lies in the given folder, so it sees that file system's cost of a sync.
    QTemporaryDir folder(QDir(arguments.Folder).filePath(u"commit-cost-XXXXXX"_s));
    const QString copy = folder.filePath(u"Client.db"_s);
    if (!folder.isValid() || !QFile::copy(arguments.Database, copy)) {
        std::fprintf(stderr, "sqlite-commit-cost: cannot copy %s into %s\n",
                     qPrintable(arguments.Database), qPrintable(arguments.Folder));
        return 1;
    }

    std::vector<std::uint64_t> samples;
    try {
        QSqlDatabase database = OpenLikeTheStore(copy);
        samples = MeasurePairs(database, arguments.Pairs);
        database.close();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sqlite-commit-cost: %s\n", error.what());
        return 1;
    }
    QSqlDatabase::removeDatabase(u"commit-cost"_s);

    const TLatencySummary summary = TLatencySummary::Of(samples);
    std::printf("two durable commits (update T_Room, insert T_IssueCardRecord), %d pairs: "
                "mean %.3f ms, p50 %.3f ms, p99 %.3f ms\n",
                arguments.Pairs, summary.MeanUs / 1000.0, double(summary.P50Us) / 1000.0,
                double(summary.P99Us) / 1000.0);
    std::printf("RESULT pairs=%d mean_us=%.1f p50_us=%llu p99_us=%llu max_us=%llu\n",
                arguments.Pairs, summary.MeanUs, static_cast<unsigned long long>(summary.P50Us),
                static_cast<unsigned long long>(summary.P99Us),
                static_cast<unsigned long long>(summary.MaxUs));
    return 0;
}
