#include "LogEntryCheckUnit.h"

#include <QStringDecoder>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype StampLength = 20; // "yyyy-mm-dd hh:nn:ss "
const QString ReceivedPrefix = u"收到消息: \r\n"_s;
constexpr qsizetype MaxProblems = 10;

bool IsStampAt(const QString& text, qsizetype at)
{
    if (at < 0 || at + StampLength > text.size())
        return false;
    static constexpr char pattern[] = "dddd-dd-dd dd:dd:dd ";
    for (qsizetype i = 0; i < StampLength; ++i) {
        const QChar c = text[at + i];
        if (pattern[i] == 'd' ? !(c >= u'0' && c <= u'9') : c != QChar::fromLatin1(pattern[i]))
            return false;
    }
    return true;
}

bool HasStampInside(const QString& text)
{
    for (qsizetype i = 0; i + StampLength <= text.size(); ++i) {
        if (text[i] == u'-' && i >= 4 && IsStampAt(text, i - 4))
            return true;
    }
    return false;
}

} // namespace

void TLogEntryCheck::AddKnownRequest(const QString& text)
{
    m_known.insert(text);
}

QString TLogEntryCheck::KindOf(const QString& text)
{
    QString kind;
    bool inNumber = false;
    for (const QChar c : text) {
        const bool digit = c >= u'0' && c <= u'9';
        if (!digit)
            kind += c;
        else if (!inNumber)
            kind += u'#';
        inNumber = digit;
        if (kind.size() >= 80)
            break;
    }
    return kind;
}

TLogCheckResult TLogEntryCheck::Check(const QByteArray& gbk) const
{
    TLogCheckResult result;
    QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(gbk);
    result.BadEncoding = decoder.hasError();
    const auto problem = [&](qsizetype entry, const QString& what, const QString& sample) {
        if (result.Problems.size() < MaxProblems)
            result.Problems << u"entry %1: %2: %3"_s.arg(entry).arg(what, sample.left(120));
    };
    if (result.BadEncoding)
        result.Problems << u"bytes that are not GBK"_s;
    if (text.isEmpty())
        return result;
    if (!IsStampAt(text, 0)) {
        ++result.Torn;
        problem(0, u"the log does not start with a stamp"_s, text);
    }

    QString lastStamp;
    qsizetype begin = 0;
    while (begin < text.size()) {
        // The entry runs to the first CR LF that is followed by a stamp or ends the file.
        qsizetype end = -1;
        for (qsizetype from = begin;;) {
            const qsizetype crlf = text.indexOf(u"\r\n"_s, from);
            if (crlf < 0)
                break;
            if (crlf + 2 == text.size() || IsStampAt(text, crlf + 2)) {
                end = crlf;
                break;
            }
            from = crlf + 2;
        }
        const qsizetype index = result.Entries++;
        if (end < 0) {
            ++result.Torn;
            problem(index, u"the last entry has no CR LF at its end"_s, text.mid(begin));
            break;
        }
        const QString entry = text.mid(begin, end - begin);
        begin = end + 2;
        if (!IsStampAt(entry, 0))
            continue; // only the first entry can lack its stamp; counted above

        const QString stamp = entry.left(StampLength - 1);
        if (stamp < lastStamp) {
            ++result.OutOfOrder;
            problem(index, u"stamp earlier than the entry before"_s, entry);
        }
        lastStamp = stamp;

        const QString body = entry.mid(StampLength);
        if (body.startsWith(ReceivedPrefix)) {
            ++result.Received;
            ++result.Kinds[u"收到消息: "_s];
            const QString request = body.mid(ReceivedPrefix.size());
            if (!m_known.isEmpty() && !m_known.contains(request)) {
                ++result.UnknownRequests;
                problem(index, u"a request that was never sent (cut or mixed)"_s, request);
            } else if (m_known.isEmpty() && HasStampInside(request)) {
                ++result.Torn;
                problem(index, u"a stamp inside the request"_s, request);
            }
            continue;
        }
        ++result.Kinds[KindOf(body)];
        if (body.contains(u'\r') || body.contains(u'\n')) {
            ++result.Torn;
            problem(index, u"a line break inside a one-line entry"_s, body);
        } else if (HasStampInside(body)) {
            ++result.Torn;
            problem(index, u"a stamp in the middle of a line"_s, body);
        }
    }
    return result;
}
