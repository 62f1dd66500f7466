#pragma once

#include "DateTimeUnit.h"
#include "ProgramObjectsUnit.h"

#include <QString>
#include <cstdint>

class TConnection;
class TRequestDocument;

// The answer of one request.
class TResponse
{
public:
    QString RequestID; // never set: always empty
    QString ResultCode;
    QString ResultMessage;
    std::int64_t CardNo = 0;
};

// Serves one door request: reads it, carries out IssueCard, ReadCard or EraseCard on the
// device with the card-time rules, keeps the record store, logs every step and answers.
// One instance per request; it uses the shared objects, which are thread-safe, and holds the
// device's card-step lock around each card operation.
class TDoorlockMessageHandler
{
public:
    explicit TDoorlockMessageHandler(const TProgramObjects& objects);

    // Throws DoorlockError when the request cannot be served; then nothing is answered.
    void HandleMessage(TConnection& connection, const QString& request);

    bool IssueCard(const TRequestDocument& root, std::int64_t& cardNo);
    bool ReadCard(std::int64_t& cardNo);
    bool EraseCard();
    void SendResponse(TConnection& connection, const TResponse& response);
    static QString BuildDoorResponse(const TResponse& response);

    // The copy flag of a request: a decimal number is true when not zero; otherwise "True" or
    // "False" in any case; anything else is false.
    static bool ReadCopyFlag(const QString& text);

private:
    void WriteLog(const QString& text);

    const TProgramObjects& m_objects;
};
