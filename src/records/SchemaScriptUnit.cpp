#include "SchemaScriptUnit.h"

using namespace Qt::Literals::StringLiterals;

QStringList SchemaStatements(const QString& script)
{
    QString code;
    for (const QString& line : script.split(u'\n')) {
        const qsizetype comment = line.indexOf(u"--"_s);
        code += (comment < 0 ? line : line.left(comment)) + u'\n';
    }
    QStringList statements;
    for (const QString& part : code.split(u';')) {
        if (!part.trimmed().isEmpty())
            statements << part.trimmed();
    }
    return statements;
}
