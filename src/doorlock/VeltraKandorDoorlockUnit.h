#pragma once

#include "BaseDoorlockUnit.h"

#include <QString>
#include <functional>
#include <mutex>

class TOption;
class TLogFile;

// The encoder driver over the CardWR library. Keeps no connection between calls: every call
// names the port from the current encoder settings. Thread-safe: library calls, R_card.txt
// and CardDataLine are one resource, used by one caller at a time.
class TVeltraKandorDoorlock : public TBaseDoorlock
{
public:
    TVeltraKandorDoorlock(TOption& option, TLogFile& log);

    // The options dialog lives in the GUI layer; the program hands it in here.
    void SetOptionsDialog(std::function<void()> showDialog);

    void ShowOptions() override;
    bool OpenPort() override { return true; }
    void Beep() override {}
    bool ClosePort() override { return true; }
    bool WriteCard(const QString& RegisterId, const QString& BuildingCode,
                   const QString& FloorCode, const QString& RoomNo, const QString& GuestName,
                   TDateTime StartDate, TDateTime StartTime, TDateTime EndDate, TDateTime EndTime,
                   bool IsCopy, std::int64_t& CardNo) override;
    bool ReadCard(std::int64_t& CardNo) override;
    bool EraseCard() override;

    // The first line of R_card.txt from the latest read of that file.
    QString CardDataLine() const;

private:
    TOption& m_option;
    TLogFile& m_log;
    std::function<void()> m_showOptionsDialog;
    mutable std::mutex m_encoderMutex;
    QString m_cardDataLine;
};
