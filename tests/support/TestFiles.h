#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// Writes the whole file; a failed write fails the running test.
inline void Put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The whole content of a file, or "<missing>" when it cannot be read, so that a missing file
// and an empty one differ.
inline QByteArray Contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return file.readAll();
}

// The whole content of a file; empty when it cannot be read.
inline QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The encoder simulator's settings file in the current folder, with these [Encoder] lines.
inline void EncoderSettings(const QByteArray& lines)
{
    Put(QStringLiteral("VeltraQuillon.ini"), "[Encoder]\r\n" + lines + "\r\n");
}
