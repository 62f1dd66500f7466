#pragma once

#include "DateTimeUnit.h"

#include <QString>
#include <cstdint>
#include <mutex>

// The system's single handle on the card encoder. The base answers false to every card
// operation and leaves the card number as it was.
class TBaseDoorlock
{
public:
    virtual ~TBaseDoorlock() = default;

    virtual void ShowOptions() {}
    virtual bool OpenPort() { return false; }
    virtual void Beep() {}
    virtual bool ClosePort() { return false; }
    virtual bool WriteCard(const QString& RegisterId, const QString& BuildingCode,
                           const QString& FloorCode, const QString& RoomNo,
                           const QString& GuestName, TDateTime StartDate, TDateTime StartTime,
                           TDateTime EndDate, TDateTime EndTime, bool IsCopy,
                           std::int64_t& CardNo);
    virtual bool ReadCard(std::int64_t& CardNo);
    virtual bool EraseCard() { return false; }

    // One encoder exists: a caller that combines store and encoder work into one card step
    // (read the room's time, write the card, store the time, add the record) holds this for
    // the whole step, so two steps for one room never interleave.
    std::mutex& CardStepMutex() { return m_cardStepMutex; }

private:
    std::mutex m_cardStepMutex;
};
