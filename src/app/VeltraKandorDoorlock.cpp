// The program: start-up in a fixed order, the main window, and tear-down in reverse.

#include "DoorlockError.h"
#include "DoorlockRecordManagerUnit.h"
#include "FileDescriptorLimitUnit.h"
#include "LogFileUnit.h"
#include "MainFormUnit.h"
#include "OptionFormUnit.h"
#include "OptionUnit.h"
#include "ProgramObjectsUnit.h"
#include "ShutdownSignalsUnit.h"
#include "SysOptionUnit.h"
#include "TCPServerUnit.h"
#include "VeltraKandorDoorlockUnit.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>

#include <filesystem>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// The folder of the program file itself, with a trailing separator; the log, the settings
// and the database lie there, wherever the program was started from.
QString ProgramDirectory(const char* argv0)
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    const QString path = error ? QFileInfo(QString::fromLocal8Bit(argv0)).absoluteFilePath()
                               : QString::fromStdString(exe.string());
    return QFileInfo(path).absolutePath() + u'/';
}

std::unique_ptr<TDoorlockRecordManager> OpenRecordStore(TLogFile& log, const QString& iniPath,
                                                        const QString& programDir)
{
    std::unique_ptr<TDoorlockRecordManager> store;
    try {
        store = std::make_unique<TDoorlockRecordManager>(log);
        store->Open(TDatabaseSettings::Load(iniPath, programDir));
    } catch (const std::exception& error) {
        const auto* doorlockError = dynamic_cast<const DoorlockError*>(&error);
        log.WriteLog(doorlockError ? doorlockError->message()
                                   : QString::fromLocal8Bit(error.what()));
    }
    return store;
}

} // namespace

int main(int argc, char* argv[])
{
    const QString programDir = ProgramDirectory(argv[0]);
    const QString iniPath = programDir + u"Option.ini"_s;

    TLogFile logFile(TLogFile::PathFor(programDir, QDate::currentDate()));

    TOption option(iniPath);
    option.Load();
    TSysOption sysOption(iniPath);
    sysOption.Load();

    std::unique_ptr<TDoorlockRecordManager> recordManager =
        OpenRecordStore(logFile, iniPath, programDir);

    int exitCode = 0;
    {
        QApplication application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        RaiseFileDescriptorLimit();
        TShutdownSignals shutdown;

        auto doorlock = std::make_unique<TVeltraKandorDoorlock>(option, logFile);
        doorlock->SetOptionsDialog([&option] { ShowOptionForm(option); });
        doorlock->OpenPort();

        TProgramObjects objects;
        objects.LogFile = &logFile;
        objects.Option = &option;
        objects.SysOption = &sysOption;
        objects.RecordManager = recordManager.get();
        try {
            RunDoorlockInterface(objects, doorlock.get(), &shutdown);
        } catch (const std::exception&) {
            exitCode = 1;
        }
        doorlock->ClosePort();
        doorlock.reset();
    }

    // Reverse order: the store, then the log last (the settings are never written back).
    recordManager.reset();
    return exitCode;
}
