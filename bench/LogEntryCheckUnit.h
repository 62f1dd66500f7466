#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// What a look through the operation log found. A plain value.
struct TLogCheckResult
{
    qsizetype Entries = 0;
    qsizetype Received = 0;         // "收到消息: " entries
    qsizetype UnknownRequests = 0;  // ... whose request is not one that was sent (cut or mixed)
    qsizetype Torn = 0;             // entries not whole: cut, run together, or a stray stamp
    qsizetype OutOfOrder = 0;       // stamps earlier than the entry before
    bool BadEncoding = false;       // bytes that are not GBK
    QMap<QString, qsizetype> Kinds; // entry texts with their numbers as '#', and how often
    QStringList Problems;           // the first few, for people

    bool Whole() const { return Torn == 0 && UnknownRequests == 0 && !BadEncoding; }
};

// Checks that a log (GBK, entries "yyyy-mm-dd hh:nn:ss " + text + CR LF) holds only whole
// entries. The text of a "收到消息: " entry is the request after a CR LF and may itself hold line
// breaks; every other entry is one line. An entry starts only at a stamp after a CR LF, so a
// stamp anywhere else, a missing final CR LF or a request that differs from every request sent
// means an entry was cut or two ran together. Not thread-safe.
class TLogEntryCheck
{
public:
    // A request as it was sent (before the NUL); with none given, any request text passes.
    void AddKnownRequest(const QString& text);
    TLogCheckResult Check(const QByteArray& gbk) const;

    static QString KindOf(const QString& text);

private:
    QSet<QString> m_known;
};
