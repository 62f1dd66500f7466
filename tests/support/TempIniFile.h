#pragma once

#include "PrivateProfile.h"
#include "TestFiles.h"

#include <QByteArray>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <memory>

// GBK bytes of a text, as the settings file and the log hold them.
inline QByteArray Gbk(const QString& text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

// Option.ini in a fresh temporary folder; the file itself is not there until written.
// Not thread-safe.
class TTempIniFile
{
public:
    const QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("Option.ini"));

    // A failed write fails the running test.
    void Write(const QByteArray& bytes) const { Put(Path, bytes); }
    QByteArray Read() const { return FileBytes(Path); }

    // A value as the file holds it now; "<missing>" when the key is not there.
    QString Value(const QString& section, const QString& key) const
    {
        return TPrivateProfile(Path).ReadString(section, key, QStringLiteral("<missing>"));
    }

    // Settings of type T (TOption, TSysOption) loaded from this file.
    template <class T> std::unique_ptr<T> Loaded() const
    {
        auto settings = std::make_unique<T>(Path);
        settings->Load();
        return settings;
    }
};
