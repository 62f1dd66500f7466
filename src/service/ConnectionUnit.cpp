#include "ConnectionUnit.h"

#include "RequestDecoderUnit.h"

void TConnection::SendResponse(const QString& text)
{
    m_output.append(EncodeResponse(text));
}
