#pragma once

#include "DateTimeUnit.h"

class TLogFile;
class TOption;
class TSysOption;
class TDoorlockRecordManager;
class TBaseDoorlock;
class TMainForm;

// The program-wide references to the shared objects. Start-up creates each object once,
// fills these in and owns the objects until tear-down; everything else reaches them here.
// The pointers are set before any thread but the GUI thread exists and never change while
// workers run, so reading them needs no lock.
struct TProgramObjects
{
    TLogFile* LogFile = nullptr;
    TOption* Option = nullptr;
    TSysOption* SysOption = nullptr;
    TDoorlockRecordManager* RecordManager = nullptr; // null when it could not be created
    TBaseDoorlock* CurrentDoorlock = nullptr;
    TMainForm* MainForm = nullptr;
    const TClock* Clock = &TClock::System();
};
