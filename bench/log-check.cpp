// Checks that operation logs hold only whole entries; prints the kinds of entry with their
// counts and a RESULT line; exits 1 when an entry is torn. Used by fault-checks.sh.
#include "LogEntryCheckUnit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    TLogEntryCheck check;
    QStringList logs;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == u"--requests"_s && i + 1 < arguments.size()) {
            const QDir dir(arguments[++i]);
            for (const QString& name : dir.entryList({u"*.xml"_s}, QDir::Files)) {
                QFile file(dir.filePath(name));
                if (!file.open(QIODevice::ReadOnly)) {
                    std::fprintf(stderr, "log-check: cannot read %s\n",
                                 qPrintable(file.fileName()));
                    return 2;
                }
                check.AddKnownRequest(QString::fromUtf8(file.readAll()));
            }
        } else if (arguments[i].startsWith(u"--"_s)) {
            std::fprintf(stderr, "usage: log-check [--requests DIR-OF-SENT-XML] LOG...\n");
            return 2;
        } else {
            logs << arguments[i];
        }
    }
    if (logs.isEmpty()) {
        std::fprintf(stderr, "usage: log-check [--requests DIR-OF-SENT-XML] LOG...\n");
        return 2;
    }

    TLogCheckResult total;
    for (const QString& path : logs) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "log-check: cannot read %s\n", qPrintable(path));
            return 2;
        }
        const TLogCheckResult one = check.Check(file.readAll());
        for (const QString& problem : one.Problems)
            std::printf("PROBLEM %s: %s\n", qPrintable(path), problem.toUtf8().constData());
        total.Entries += one.Entries;
        total.Received += one.Received;
        total.UnknownRequests += one.UnknownRequests;
        total.Torn += one.Torn;
        total.OutOfOrder += one.OutOfOrder;
        total.BadEncoding = total.BadEncoding || one.BadEncoding;
        for (auto it = one.Kinds.cbegin(); it != one.Kinds.cend(); ++it)
            total.Kinds[it.key()] += it.value();
    }
    for (auto it = total.Kinds.cbegin(); it != total.Kinds.cend(); ++it)
        std::printf("KIND %lld %s\n", static_cast<long long>(it.value()),
                    it.key().toUtf8().constData());
    std::printf("RESULT logs=%lld entries=%lld received=%lld unknown_requests=%lld torn=%lld "
                "out_of_order=%lld bad_encoding=%d\n",
                static_cast<long long>(logs.size()), static_cast<long long>(total.Entries),
                static_cast<long long>(total.Received),
                static_cast<long long>(total.UnknownRequests), static_cast<long long>(total.Torn),
                static_cast<long long>(total.OutOfOrder), total.BadEncoding ? 1 : 0);
    return total.Whole() && total.OutOfOrder == 0 ? 0 : 1;
}
