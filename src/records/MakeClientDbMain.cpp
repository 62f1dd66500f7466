// make-client-db <schema.sql> <Client.db>
// Build step: makes a fresh SQLite database from a schema file, replacing the output. The
// program itself never creates a database; this is how build/bin gets its Client.db.

#include "SchemaScriptUnit.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTextStream>

using namespace Qt::Literals::StringLiterals;

namespace {

bool Make(const QString& schemaPath, const QString& outputPath, QString& error)
{
    QFile schema(schemaPath);
    if (!schema.open(QIODevice::ReadOnly)) {
        error = schemaPath + u": "_s + schema.errorString();
        return false;
    }
    const QStringList statements = SchemaStatements(QString::fromUtf8(schema.readAll()));

    // Built beside the output and renamed over it, so a failed build leaves no half file.
    const QString partial = outputPath + u".partial"_s;
    QFile::remove(partial);
    bool made = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"make-client-db"_s);
        db.setDatabaseName(partial);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            made = true;
            for (const QString& statement : statements) {
                QSqlQuery query(db);
                if (!query.exec(statement)) {
                    error = query.lastError().text() + u"\n"_s + statement;
                    made = false;
                    break;
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(u"make-client-db"_s);

    if (made) {
        QFile::remove(outputPath);
        made = QFile::rename(partial, outputPath);
        if (!made)
            error = u"cannot write "_s + outputPath;
    }
    if (!made)
        QFile::remove(partial);
    return made;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 3) {
        err << "usage: make-client-db <schema.sql> <Client.db>\n";
        return 2;
    }
    QString error;
    if (!Make(args.at(1), args.at(2), error)) {
        err << "make-client-db: " << error << '\n';
        return 1;
    }
    return 0;
}
