#pragma once

#include <QString>

// Reads and writes one INI file with the rules of a Windows private profile: section and key
// names without regard to case, values trimmed and unquoted, at most 2047 bytes of a value,
// writes that replace a key's line in place and keep every other line. The file is GBK text
// and is opened afresh for every call; nothing is cached.
// Thread-safety: reads may run alongside a write (the file is replaced atomically), but writes
// to one file must not overlap, or one of them is lost; callers serialise their writes.
class TPrivateProfile
{
public:
    // The longest value, in GBK bytes, that a read returns; longer values are cut.
    static constexpr qsizetype MaxValueBytes = 2047;

    explicit TPrivateProfile(QString fileName);

    const QString& FileName() const { return m_fileName; }

    // A missing or unreadable file, section or key gives the default; a key with an empty
    // value gives the empty text.
    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // Missing, empty or unconvertible values give the default ("0x" counts as "$").
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // Each write is one complete, atomic update of the file; throws DoorlockError
    // "Unable to write to <file>" when the file cannot be read or written, and also for a
    // value that could not be read back as written (a line break or NUL, a character GBK
    // lacks, more than MaxValueBytes bytes) or a name that would break the file's lines.
    // A value with blanks or quotes at its ends is written quoted so that it reads back whole.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

private:
    [[noreturn]] void ThrowWriteError() const;

    QString m_fileName;
};
