#include "RequestDocumentUnit.h"

#include "DoorlockError.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Control characters count as white space too, so stray ones never shift a position.
bool IsBlank(QChar c)
{
    return c.unicode() <= 0x20;
}

bool IsBlankOnly(QStringView text)
{
    for (QChar c : text) {
        if (!IsBlank(c))
            return false;
    }
    return true;
}

// What may follow '<' to open an element; anything else leaves the '<' as text.
bool IsNameStart(QChar c)
{
    return !IsBlank(c) && c != u'<' && c != u'>' && c != u'=' && c != u'"' && c != u'\'';
}

int DigitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16 && u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (base == 16 && u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Reads the reference that starts with the '&' at the front of text. A number that cannot be
// a character (zero, a surrogate, beyond U+10FFFF, no digits) is no reference: it stays.
bool ReadReference(QStringView text, qsizetype& length, char32_t& code)
{
    static constexpr struct
    {
        QStringView Name;
        char16_t Char;
    } named[] = {
        {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&apos;", u'\''}, {u"&quot;", u'"'}};
    for (const auto& entry : named) {
        if (text.startsWith(entry.Name)) {
            length = entry.Name.size();
            code = entry.Char;
            return true;
        }
    }
    if (text.size() < 2 || text[1] != u'#')
        return false;
    qsizetype i = 2;
    int base = 10;
    if (i < text.size() && (text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    }
    const qsizetype digitsBegin = i;
    char32_t value = 0;
    bool tooBig = false;
    for (int digit = 0; i < text.size() && (digit = DigitValue(text[i], base)) >= 0; ++i) {
        // Keep reading the digits of a huge number, but stop growing the value.
        if (!tooBig) {
            value = value * char32_t(base) + char32_t(digit);
            tooBig = value > 0x10FFFF;
        }
    }
    if (i == digitsBegin || i >= text.size() || text[i] != u';')
        return false;
    if (tooBig || value == 0 || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    length = i + 1;
    code = value;
    return true;
}

QString DecodeReferences(QStringView text)
{
    qsizetype amp = text.indexOf(u'&');
    if (amp < 0)
        return text.toString();
    QString out;
    out.reserve(text.size());
    qsizetype copied = 0;
    while (amp >= 0) {
        qsizetype length = 0;
        char32_t code = 0;
        if (ReadReference(text.sliced(amp), length, code)) {
            out.append(text.sliced(copied, amp - copied));
            if (QChar::requiresSurrogates(code)) {
                out.append(QChar(QChar::highSurrogate(code)));
                out.append(QChar(QChar::lowSurrogate(code)));
            } else {
                out.append(QChar(char16_t(code)));
            }
            copied = amp + length;
            amp = text.indexOf(u'&', copied);
        } else {
            amp = text.indexOf(u'&', amp + 1);
        }
    }
    out.append(text.sliced(copied));
    return out;
}

// Names in messages are cut short: a hostile request must not make a huge message.
QString Excerpt(QStringView text)
{
    constexpr qsizetype maxLength = 40;
    if (text.size() <= maxLength)
        return text.toString();
    return text.first(maxLength).toString() + u"..."_s;
}

} // namespace

// One pass over the text with an explicit stack of open elements: no recursion, and every
// character is looked at a bounded number of times.
class TRequestDocument::TReader
{
public:
    explicit TReader(TRequestDocument& document)
        : m_doc(document), m_text(document.m_text), m_size(m_text.size())
    {}

    void Run()
    {
        if (m_size == 0)
            Fail(u"the text is empty"_s);
        qsizetype textBegin = 0;
        for (;;) {
            const qsizetype markup = NextMarkup(textBegin);
            EndTextRun(TRange{textBegin, markup});
            if (markup == m_size)
                break;
            textBegin = ReadMarkup(markup);
        }
        if (!m_open.empty()) {
            Fail(u"element <"_s + Excerpt(View(m_open.back())) + u"> opened at "_s +
                 Where(m_open.back().Begin - 1) + u" is still open at the end of the text"_s);
        }
        if (m_root == TRootState::NotSeen)
            Fail(u"the text holds no element"_s);
    }

private:
    enum class TRootState
    {
        NotSeen,
        Open,
        Closed
    };

    [[noreturn]] void Fail(const QString& detail) const
    {
        throw DoorlockError(u"The request is not readable XML: "_s + detail);
    }

    QString Where(qsizetype offset) const
    {
        const QStringView before = m_text.first(offset);
        const qsizetype lineStart = before.lastIndexOf(u'\n') + 1;
        return u"line %1, column %2"_s.arg(before.count(u'\n') + 1).arg(offset - lineStart + 1);
    }

    QStringView View(TRange range) const
    {
        return m_text.sliced(range.Begin, range.End - range.Begin);
    }

    bool DirectlyInRoot() const { return m_root == TRootState::Open && m_open.size() == 1; }

    void AddPosition(TNodeKind kind, TRange content)
    {
        if (DirectlyInRoot())
            m_doc.m_positions.push_back(TNode{kind, content});
    }

    // The next '<' that opens markup, or the end of the text.
    qsizetype NextMarkup(qsizetype from) const
    {
        for (;;) {
            const qsizetype lt = m_text.indexOf(u'<', from);
            if (lt < 0)
                return m_size;
            if (lt + 1 == m_size)
                Fail(u"the text ends with '<'"_s);
            const QChar next = m_text[lt + 1];
            if (next == u'/' || next == u'!' || next == u'?' || IsNameStart(next))
                return lt;
            from = lt + 1;
        }
    }

    void EndTextRun(TRange run)
    {
        if (m_textOwner >= 0) {
            // The text of an element child ends at the element's first child node.
            m_doc.m_positions[std::size_t(m_textOwner)].Content = run;
            m_textOwner = -1;
        } else if (!m_doc.m_positions.empty() && !IsBlankOnly(View(run))) {
            // Text before the root's first child is the root's own and takes no position.
            AddPosition(TNodeKind::Text, run);
        }
    }

    qsizetype Find(QStringView what, qsizetype from, qsizetype markup, const QString& kind) const
    {
        const qsizetype at = m_text.indexOf(what, from);
        if (at < 0)
            Fail(u"unterminated "_s + kind + u" starting at "_s + Where(markup));
        return at;
    }

    // Returns the offset just after the markup that starts at markup.
    qsizetype ReadMarkup(qsizetype markup)
    {
        const QChar next = m_text[markup + 1];
        if (next == u'/')
            return ReadCloseTag(markup);
        if (next == u'?') {
            const qsizetype end = Find(u"?>", markup + 2, markup, u"processing instruction"_s);
            AddPosition(TNodeKind::ProcessingInstruction, TRange{markup + 2, end});
            return end + 2;
        }
        if (next == u'!') {
            const QStringView rest = m_text.sliced(markup);
            if (rest.startsWith(u"<!--")) {
                const qsizetype end = Find(u"-->", markup + 4, markup, u"comment"_s);
                AddPosition(TNodeKind::Comment, TRange{markup + 4, end});
                return end + 3;
            }
            if (rest.startsWith(u"<![CDATA[")) {
                const qsizetype end = Find(u"]]>", markup + 9, markup, u"CDATA section"_s);
                AddPosition(TNodeKind::CData, TRange{markup + 9, end});
                return end + 3;
            }
            const qsizetype end = FindDeclarationEnd(markup);
            AddPosition(TNodeKind::Declaration, TRange{markup + 2, end});
            return end + 1;
        }
        return ReadStartTag(markup);
    }

    // A declaration ends at the first '>' outside quotes and outside an internal subset in
    // brackets; comments and processing instructions inside the subset may hold any of these.
    qsizetype FindDeclarationEnd(qsizetype markup) const
    {
        const QString kind = u"declaration"_s;
        qsizetype depth = 0;
        qsizetype i = markup + 2;
        while (i < m_size) {
            const QChar c = m_text[i];
            if (c == u'"' || c == u'\'') {
                i = Find(QStringView(&c, 1), i + 1, markup, kind) + 1;
            } else if (depth > 0 && m_text.sliced(i).startsWith(u"<!--")) {
                i = Find(u"-->", i + 4, markup, kind) + 3;
            } else if (depth > 0 && m_text.sliced(i).startsWith(u"<?")) {
                i = Find(u"?>", i + 2, markup, kind) + 2;
            } else {
                if (c == u'[')
                    ++depth;
                else if (c == u']' && depth > 0)
                    --depth;
                else if (c == u'>' && depth == 0)
                    return i;
                ++i;
            }
        }
        Fail(u"unterminated declaration starting at "_s + Where(markup));
    }

    qsizetype SkipBlanks(qsizetype i) const
    {
        while (i < m_size && IsBlank(m_text[i]))
            ++i;
        return i;
    }

    qsizetype ReadStartTag(qsizetype markup)
    {
        qsizetype i = markup + 1;
        while (i < m_size && !IsBlank(m_text[i]) && m_text[i] != u'>' && m_text[i] != u'/')
            ++i;
        const TRange name{markup + 1, i};
        const bool isRoot = m_root == TRootState::NotSeen;
        const auto unterminated = [&] {
            Fail(u"unterminated tag <"_s + Excerpt(View(name)) + u" starting at "_s +
                 Where(markup));
        };
        bool selfClosing = false;
        for (;;) {
            i = SkipBlanks(i);
            if (i >= m_size)
                unterminated();
            const QChar c = m_text[i];
            if (c == u'>') {
                ++i;
                break;
            }
            if (c == u'/') {
                if (i + 1 < m_size && m_text[i + 1] == u'>') {
                    selfClosing = true;
                    i += 2;
                    break;
                }
                ++i; // a stray '/' inside a tag is passed over
                continue;
            }
            if (c == u'"' || c == u'\'') { // a value without a name is passed over
                const qsizetype close = m_text.indexOf(c, i + 1);
                if (close < 0)
                    unterminated();
                i = close + 1;
                continue;
            }
            if (c == u'=') {
                ++i;
                continue;
            }
            const qsizetype nameBegin = i;
            while (i < m_size && !IsBlank(m_text[i]) && m_text[i] != u'=' && m_text[i] != u'>' &&
                   m_text[i] != u'/')
                ++i;
            TAttribute attribute{TRange{nameBegin, i}, TRange{i, i}};
            qsizetype j = SkipBlanks(i);
            if (j < m_size && m_text[j] == u'=') {
                j = SkipBlanks(j + 1);
                if (j >= m_size)
                    unterminated();
                const QChar quote = m_text[j];
                if (quote == u'"' || quote == u'\'') {
                    const qsizetype close = m_text.indexOf(quote, j + 1);
                    if (close < 0)
                        unterminated();
                    attribute.Value = TRange{j + 1, close};
                    i = close + 1;
                } else {
                    // Without quotes a value runs up to a blank or the end of the tag.
                    const qsizetype valueBegin = j;
                    while (j < m_size && !IsBlank(m_text[j]) && m_text[j] != u'>' &&
                           !(m_text[j] == u'/' && j + 1 < m_size && m_text[j + 1] == u'>'))
                        ++j;
                    attribute.Value = TRange{valueBegin, j};
                    i = j;
                }
            }
            if (isRoot)
                m_doc.m_rootAttributes.push_back(attribute);
        }

        if (DirectlyInRoot()) {
            m_doc.m_positions.push_back(TNode{TNodeKind::Element, TRange{i, i}});
            if (!selfClosing)
                m_textOwner = qsizetype(m_doc.m_positions.size()) - 1;
        }
        if (isRoot) {
            m_doc.m_rootName = name;
            m_root = selfClosing ? TRootState::Closed : TRootState::Open;
        }
        if (!selfClosing)
            m_open.push_back(name);
        return i;
    }

    qsizetype ReadCloseTag(qsizetype markup)
    {
        qsizetype i = markup + 2;
        while (i < m_size && !IsBlank(m_text[i]) && m_text[i] != u'>')
            ++i;
        const TRange name{markup + 2, i};
        // Anything between the name and '>' is passed over.
        const qsizetype end = m_text.indexOf(u'>', i);
        if (end < 0) {
            Fail(u"unterminated close tag </"_s + Excerpt(View(name)) + u" starting at "_s +
                 Where(markup));
        }
        if (m_open.empty()) {
            Fail(u"close tag </"_s + Excerpt(View(name)) + u"> at "_s + Where(markup) +
                 u" has no open element"_s);
        }
        const TRange open = m_open.back();
        if (View(name).compare(View(open), Qt::CaseInsensitive) != 0) {
            Fail(u"close tag </"_s + Excerpt(View(name)) + u"> at "_s + Where(markup) +
                 u" does not match <"_s + Excerpt(View(open)) + u"> opened at "_s +
                 Where(open.Begin - 1));
        }
        m_open.pop_back();
        if (m_open.empty() && m_root == TRootState::Open)
            m_root = TRootState::Closed;
        return end + 1;
    }

    TRequestDocument& m_doc;
    const QStringView m_text;
    const qsizetype m_size;
    std::vector<TRange> m_open; // names of the open elements, innermost last
    TRootState m_root = TRootState::NotSeen;
    qsizetype m_textOwner = -1; // the element child whose leading text is being read
};

TRequestDocument TRequestDocument::Parse(QStringView text)
{
    TRequestDocument document;
    document.m_text = text.toString();
    TReader(document).Run();
    return document;
}

QString TRequestDocument::RootName() const
{
    return View(m_rootName).toString();
}

QString TRequestDocument::RootAttribute(QStringView name) const
{
    for (const TAttribute& attribute : m_rootAttributes) {
        if (View(attribute.Name).compare(name, Qt::CaseInsensitive) == 0)
            return DecodeReferences(View(attribute.Value));
    }
    return QString();
}

TRequestDocument::TNodeKind TRequestDocument::PositionKind(qsizetype position) const
{
    return NodeAt(position).Kind;
}

QString TRequestDocument::ElementText(qsizetype position) const
{
    const TNode& node = NodeAt(position);
    const QStringView content = View(node.Content);
    switch (node.Kind) {
    case TNodeKind::Element:
        // Blankness is judged as written, before references are decoded.
        return IsBlankOnly(content) ? QString() : DecodeReferences(content);
    case TNodeKind::Text:
        return DecodeReferences(content);
    case TNodeKind::Comment:
    case TNodeKind::CData:
    case TNodeKind::ProcessingInstruction:
    case TNodeKind::Declaration:
        break;
    }
    return content.toString();
}

QStringView TRequestDocument::View(TRange range) const
{
    return QStringView(m_text).sliced(range.Begin, range.End - range.Begin);
}

const TRequestDocument::TNode& TRequestDocument::NodeAt(qsizetype position) const
{
    if (position < 0 || position >= PositionCount()) {
        throw DoorlockError(
            u"The request has no value at position %1: its root has %2 child nodes"_s.arg(position)
                .arg(PositionCount()));
    }
    return m_positions[std::size_t(position)];
}
