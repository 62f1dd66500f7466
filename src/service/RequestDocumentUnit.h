#pragma once

#include <QString>
#include <QStringView>
#include <vector>

// A door request read as XML: the root element's attributes and the root's child nodes by
// position, each with the text it yields. Forgiving about form, strict only about structure
// (tags must nest and close). Reading is iterative and linear in the length of the text, so
// hostile input can neither exhaust the stack nor take quadratic time.
// Immutable once read: thread-safe for concurrent reads.
class TRequestDocument
{
public:
    enum class TNodeKind
    {
        Element,
        Text,
        Comment,
        CData,
        ProcessingInstruction,
        Declaration
    };

    // Throws DoorlockError when the text is empty, holds no element, or its tags do not nest
    // and close (close tags match their open tags without regard to case).
    static TRequestDocument Parse(QStringView text);

    QString RootName() const;
    // The name is matched without regard to case; the value comes with its references
    // decoded and its surrounding white space kept. A missing attribute gives "".
    QString RootAttribute(QStringView name) const;

    // Child nodes of the root, counted from 0: markup of any kind, and runs of text that are
    // not blank and follow an earlier child node.
    qsizetype PositionCount() const { return qsizetype(m_positions.size()); }
    // Both throw DoorlockError when the root has no child node at the position.
    TNodeKind PositionKind(qsizetype position) const;
    // An element gives its text before its first child node ("" when blank); a text run its
    // text; both with references decoded. A comment, CDATA section, processing instruction or
    // declaration gives what stands between its delimiters, as written.
    QString ElementText(qsizetype position) const;

private:
    class TReader;

    struct TRange
    {
        qsizetype Begin = 0;
        qsizetype End = 0;
    };
    struct TAttribute
    {
        TRange Name;
        TRange Value;
    };
    struct TNode
    {
        TNodeKind Kind;
        TRange Content;
    };

    TRequestDocument() = default;
    QStringView View(TRange range) const;
    const TNode& NodeAt(qsizetype position) const;

    QString m_text;
    TRange m_rootName;
    std::vector<TAttribute> m_rootAttributes;
    std::vector<TNode> m_positions;
};
