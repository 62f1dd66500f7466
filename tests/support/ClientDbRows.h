#pragma once

#include <QFile>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariantList>
#include <QtDebug>

#include <atomic>

// Runs one statement on a Client.db file through a connection of its own and returns the
// rows. A missing file stays missing (opening it would create it). Thread-safe.
inline QList<QVariantList> ClientDbRows(const QString& dbPath, const QString& sql,
                                        const QVariantList& values = {})
{
    static std::atomic<int> connections{0};
    QList<QVariantList> result;
    if (!QFile::exists(dbPath))
        return result;
    const QString name = QStringLiteral("client-db-rows-") + QString::number(++connections);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare(sql);
            for (const QVariant& value : values)
                query.addBindValue(value);
            if (!query.exec())
                qWarning() << "test statement failed:" << query.lastError().text();
            while (query.next()) {
                QVariantList row;
                for (int i = 0; i < query.record().count(); ++i)
                    row << query.value(i);
                result << row;
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

// One row of T_IssueCardRecord; times are day counts.
struct TIssueRecord
{
    QString RegisterId;
    QString CardNo;
    QString RoomNo;
    int CardType = 0;
    double LastCheckInTime = 0;
    double CheckInTime = 0;
    double CheckOutTime = 0;
    bool IsCopy = false;
    QString GuestName;
    double OpratingTime = 0;
};

// The issue records in the order they were written.
inline QList<TIssueRecord> IssueRecords(const QString& dbPath)
{
    QList<TIssueRecord> result;
    for (const QVariantList& row :
         ClientDbRows(dbPath, QStringLiteral("select RegisterId, CardNo, RoomNo, CardType, "
                                             "LastCheckInTime, CheckInTime, CheckOutTime, IsCopy, "
                                             "GuestName, OpratingTime from T_IssueCardRecord "
                                             "order by rowid"))) {
        TIssueRecord record;
        record.RegisterId = row.at(0).toString();
        record.CardNo = row.at(1).toString();
        record.RoomNo = row.at(2).toString();
        record.CardType = row.at(3).toInt();
        record.LastCheckInTime = row.at(4).toDouble();
        record.CheckInTime = row.at(5).toDouble();
        record.CheckOutTime = row.at(6).toDouble();
        record.IsCopy = row.at(7).toInt() != 0;
        record.GuestName = row.at(8).toString();
        record.OpratingTime = row.at(9).toDouble();
        result << record;
    }
    return result;
}
