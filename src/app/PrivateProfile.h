#pragma once

#include <QString>

// Reads and writes one INI file with the rules of a Windows private profile: section and key
// names without regard to case, values trimmed and unquoted, at most 2047 bytes of a value,
// writes that replace a key's line in place and keep every other line. The file is GBK text
// and is opened afresh for every call; nothing is cached. Not thread-safe by itself: callers
// that share a file serialise their writes.
class TPrivateProfile
{
public:
    explicit TPrivateProfile(QString fileName);

    const QString& FileName() const { return m_fileName; }

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // Missing, empty or unconvertible values give the default ("0x" counts as "$").
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // Each write is one complete update of the file; throws DoorlockError
    // "Unable to write to <file>" when the file cannot be written.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

private:
    QString m_fileName;
};
