#include "DatabaseSettingsUnit.h"

#include "PrivateProfile.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

TDatabaseSettings TDatabaseSettings::BesideProgram(const QString& programDir)
{
    TDatabaseSettings settings;
    settings.Database = programDir + u"Client.db"_s;
    return settings;
}

TDatabaseSettings TDatabaseSettings::Load(const QString& iniPath, const QString& programDir)
{
    const QString section = u"Database"_s;
    const TPrivateProfile ini(iniPath);
    TDatabaseSettings settings = BesideProgram(programDir);
    settings.Driver = ini.ReadString(section, u"Driver"_s, settings.Driver).trimmed().toUpper();
    if (settings.Driver.isEmpty())
        settings.Driver = u"QSQLITE"_s;

    const QString database = ini.ReadString(section, u"Database"_s, QString());
    if (settings.IsSQLite()) {
        // A relative file name means the program's folder, never the current directory.
        if (!database.isEmpty())
            settings.Database = QDir::cleanPath(QDir(programDir).absoluteFilePath(database));
    } else {
        settings.Database = database;
    }
    settings.Host = ini.ReadString(section, u"Host"_s, QString());
    settings.Port = ini.ReadInteger(section, u"Port"_s, settings.Port);
    settings.User = ini.ReadString(section, u"User"_s, QString());
    settings.Password = ini.ReadString(section, u"Password"_s, QString());
    return settings;
}
