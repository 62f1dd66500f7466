#include "DoorAnswerUnit.h"

#include "DoorlockError.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QXmlStreamReader>

using namespace Qt::Literals::StringLiterals;

namespace {

QString DecodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw DoorlockError(u"The answer is not valid UTF-8."_s);
    return text;
}

bool IsDecimalInt64(const QString& text)
{
    static const QRegularExpression decimal(u"^-?[0-9]+$"_s);
    bool ok = false;
    text.toLongLong(&ok);
    return ok && decimal.match(text).hasMatch();
}

} // namespace

TDoorAnswer TDoorAnswer::Parse(QByteArrayView bytes)
{
    QXmlStreamReader xml(DecodeUtf8(bytes));
    if (!xml.readNextStartElement()) {
        throw DoorlockError(xml.hasError() ? u"The answer is not XML: "_s + xml.errorString()
                                           : u"The answer holds no XML element."_s);
    }
    if (xml.name() != u"DoorResponse")
        throw DoorlockError(u"The answer is a <"_s + xml.name() + u">, not a <DoorResponse>."_s);

    TDoorAnswer answer;
    struct TField
    {
        QStringView Name;
        QString* Value;
        bool Seen = false;
    };
    TField fields[] = {{u"RequestID", &answer.RequestID},
                       {u"ResultCode", &answer.ResultCode},
                       {u"ResultMessage", &answer.ResultMessage},
                       {u"CardNo", &answer.CardNo}};

    while (xml.readNextStartElement()) {
        TField* field = nullptr;
        for (TField& candidate : fields) {
            if (xml.name() == candidate.Name)
                field = &candidate;
        }
        // Elements a later interface might add are passed over.
        if (field == nullptr) {
            xml.skipCurrentElement();
            continue;
        }
        if (field->Seen)
            throw DoorlockError(u"The answer holds <"_s + field->Name + u"> twice."_s);
        field->Seen = true;
        *field->Value = xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    }
    // Read to the end so that anything malformed after the root is noticed too.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        throw DoorlockError(u"The answer is not well-formed XML: "_s + xml.errorString());

    for (const TField& field : fields) {
        if (!field.Seen)
            throw DoorlockError(u"The answer has no <"_s + field.Name + u">."_s);
    }
    if (!IsDecimalInt64(answer.CardNo))
        throw DoorlockError(u"The card number \""_s + answer.CardNo +
                            u"\" of the answer is not a whole number."_s);
    return answer;
}

QString TDoorAnswer::Describe() const
{
    return u"RequestID: \""_s + RequestID + u"\"\nResultCode: "_s + ResultCode +
           u"\nResultMessage: \""_s + ResultMessage + u"\"\nCardNo: "_s + CardNo + u'\n';
}
