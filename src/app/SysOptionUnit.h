#pragma once

#include <QString>
#include <atomic>
#include <mutex>

// System settings: SysOption (Password and the four ports) and four keys of DoorlockOption.
// The numbers and switches are fixed after Load; Password is changed by the GUI while others
// may read it, so it is guarded. Until Load the fields hold the defaults. All accessors are
// thread-safe.
class TSysOption
{
public:
    explicit TSysOption(QString fileName);

    void Load();
    void Save(); // throws DoorlockError "Unable to write to <file>"

    QString FileName() const { return m_fileName; }

    int DoorlockPortNo() const { return m_doorlockPortNo.load(); }
    bool UseNativeDoorlockDb() const { return m_useNativeDoorlockDb.load(); }
    bool SaveDoorlockRecord() const { return m_saveDoorlockRecord.load(); }
    int PolicePortNo() const { return m_policePortNo.load(); }
    int MemberPortNo() const { return m_memberPortNo.load(); }
    int ScanPortNo() const { return m_scanPortNo.load(); }
    int DelayMinutes() const { return m_delayMinutes.load(); }
    int DelayMinutes2() const { return m_delayMinutes2.load(); }
    QString Password() const;
    void SetPassword(const QString& value);

private:
    std::atomic<int> m_doorlockPortNo{8886};
    std::atomic<bool> m_useNativeDoorlockDb{false};
    std::atomic<bool> m_saveDoorlockRecord{false};
    std::atomic<int> m_policePortNo{8885};
    std::atomic<int> m_memberPortNo{8883};
    std::atomic<int> m_scanPortNo{8881};
    const QString m_fileName;
    mutable std::mutex m_mutex;
    QString m_password;
    std::atomic<int> m_delayMinutes{0};
    std::atomic<int> m_delayMinutes2{0};
};
