#include "CardIssueUnit.h"

#include "BaseDoorlockUnit.h"
#include "DoorlockRecordManagerUnit.h"
#include "SysOptionUnit.h"

#include <mutex>

bool IssueCardStep(const TProgramObjects& objects, const TCardIssue& card, std::int64_t& cardNo)
{
    TBaseDoorlock& doorlock = *objects.CurrentDoorlock;
    TDoorlockRecordManager* store = objects.RecordManager;
    const TSysOption& sysOption = *objects.SysOption;
    const QString roomKey = card.RoomKey();
    const bool useRoomStore = sysOption.UseNativeDoorlockDb();

    // A copy card must see the time that its room's new card stored.
    std::lock_guard cardStep(doorlock.CardStepMutex());
    TDateTime startTime = card.CheckIn;
    if (useRoomStore) {
        const TDateTime stored = card.IsCopy && store ? store->GetLastCheckInTime(roomKey) : 0;
        if (card.IsCopy && stored != 0) {
            startTime = stored;
        } else {
            startTime = DateTime::AddMinutes(objects.Clock->Now(), -sysOption.DelayMinutes());
            // A copy card for a room without a time starts the room's record now, written or not.
            if (card.IsCopy && store)
                store->InsertRoom(roomKey, startTime);
        }
    }

    const bool written = doorlock.WriteCard(card.RegisterId, card.BuildingCode, card.FloorCode,
                                            card.RoomNo, card.GuestName, startTime, startTime,
                                            card.CheckOut, card.CheckOut, card.IsCopy, cardNo);
    if (written && useRoomStore && !card.IsCopy && store)
        store->UpdateLastCheckInTime(roomKey, startTime);
    if (sysOption.SaveDoorlockRecord() && store)
        store->AddIssueCardRecord(card.RegisterId, QString::number(cardNo), roomKey, 1, startTime,
                                  card.CheckIn, card.CheckOut, card.IsCopy, card.GuestName,
                                  objects.Clock->Now());
    return written;
}
