#pragma once

#include "DateTimeUnit.h"
#include "ProgramObjectsUnit.h"

#include <QString>
#include <cstdint>

// What one card write needs: the room, the guest and the stay as the caller computed it.
struct TCardIssue
{
    QString RegisterId;
    QString BuildingCode;
    QString FloorCode;
    QString RoomNo;
    QString GuestName;
    TDateTime CheckIn = 0;  // the record's check-in, and the card start without the room store
    TDateTime CheckOut = 0; // the card's end
    bool IsCopy = false;

    // Building code, floor code and room number as written: the room's key in the store.
    QString RoomKey() const { return BuildingCode + FloorCode + RoomNo; }
};

// The card step shared by door requests and the test dialog: chooses the card start time by
// the room-store rules, writes the card, stores the room's new time and adds the issue record.
// Steps for one room never interleave: the device's card-step lock covers choosing the time,
// writing the card and handing the store its writes; the step returns once they are stored.
// Returns the device's result; a device error leaves the step where it happened.
bool IssueCardStep(const TProgramObjects& objects, const TCardIssue& card, std::int64_t& cardNo);
