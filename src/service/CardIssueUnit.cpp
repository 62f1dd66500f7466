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

    TDoorlockRecordManager::TTicket roomStored;
    TDoorlockRecordManager::TTicket recordStored;
    bool written = false;
    {
        // A copy card must see the time that its room's new card stored. The store runs its
        // operations in the order they were handed in, so handing the writes in under the lock is
        // enough for that; the commits themselves then overlap the next card's encoder time.
        std::lock_guard cardStep(doorlock.CardStepMutex());
        TDateTime startTime = card.CheckIn;
        if (useRoomStore) {
            const TDateTime stored = card.IsCopy && store ? store->GetLastCheckInTime(roomKey) : 0;
            if (card.IsCopy && stored != 0) {
                startTime = stored;
            } else {
                startTime = DateTime::AddMinutes(objects.Clock->Now(), -sysOption.DelayMinutes());
                // A copy card for a room without a time starts the room's record now, written
                // or not.
                if (card.IsCopy && store)
                    store->InsertRoom(roomKey, startTime);
            }
        }

        written = doorlock.WriteCard(card.RegisterId, card.BuildingCode, card.FloorCode,
                                     card.RoomNo, card.GuestName, startTime, startTime,
                                     card.CheckOut, card.CheckOut, card.IsCopy, cardNo);
        if (written && useRoomStore && !card.IsCopy && store)
            roomStored = store->StartUpdateLastCheckInTime(roomKey, startTime);
        if (sysOption.SaveDoorlockRecord() && store)
            recordStored = store->StartAddIssueCardRecord(
                card.RegisterId, QString::number(cardNo), roomKey, 1, startTime, card.CheckIn,
                card.CheckOut, card.IsCopy, card.GuestName, objects.Clock->Now());
    }
    // The caller answers only once the card's records are stored.
    roomStored.Wait();
    recordStored.Wait();
    return written;
}
