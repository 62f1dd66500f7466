#include "SysOptionUnit.h"

#include "PrivateProfile.h"

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

QString sysSection()
{
    return u"SysOption"_s;
}

QString doorlockSection()
{
    return u"DoorlockOption"_s;
}

QString defaultPassword()
{
    return u"tervix"_s;
}

} // namespace

TSysOption::TSysOption(QString fileName)
    : m_fileName(std::move(fileName)), m_password(defaultPassword())
{}

void TSysOption::Load()
{
    const TPrivateProfile ini(m_fileName);
    SetPassword(ini.ReadString(sysSection(), u"Password"_s, defaultPassword()));
    m_doorlockPortNo = ini.ReadInteger(sysSection(), u"DoorlockPortNo"_s, 8886);
    m_policePortNo = ini.ReadInteger(sysSection(), u"PolicePortNo"_s, 8885);
    m_memberPortNo = ini.ReadInteger(sysSection(), u"MemberPortNo"_s, 8883);
    m_scanPortNo = ini.ReadInteger(sysSection(), u"ScanPortNo"_s, 8881);
    m_delayMinutes = ini.ReadInteger(doorlockSection(), u"DelayMinutes"_s, 0);
    m_delayMinutes2 = ini.ReadInteger(doorlockSection(), u"DelayMinutes2"_s, 0);
    m_useNativeDoorlockDb = ini.ReadBool(doorlockSection(), u"UseNativeDoorlockDb"_s, false);
    m_saveDoorlockRecord = ini.ReadBool(doorlockSection(), u"SaveDoorlockRecord"_s, false);
}

void TSysOption::Save()
{
    // Each key is written by itself: a failure leaves the earlier keys written.
    TPrivateProfile ini(m_fileName);
    ini.WriteString(sysSection(), u"Password"_s, Password());
    ini.WriteInteger(sysSection(), u"DoorlockPortNo"_s, DoorlockPortNo());
    ini.WriteInteger(sysSection(), u"PolicePortNo"_s, PolicePortNo());
    ini.WriteInteger(sysSection(), u"MemberPortNo"_s, MemberPortNo());
    ini.WriteInteger(sysSection(), u"ScanPortNo"_s, ScanPortNo());
    ini.WriteInteger(doorlockSection(), u"DelayMinutes"_s, DelayMinutes());
    ini.WriteInteger(doorlockSection(), u"DelayMinutes2"_s, DelayMinutes2());
    ini.WriteBool(doorlockSection(), u"UseNativeDoorlockDb"_s, UseNativeDoorlockDb());
    ini.WriteBool(doorlockSection(), u"SaveDoorlockRecord"_s, SaveDoorlockRecord());
}

QString TSysOption::Password() const
{
    const std::lock_guard lock(m_mutex);
    return m_password;
}

void TSysOption::SetPassword(const QString& value)
{
    // Swapped in under the lock; the old text is released after it.
    QString copy = value;
    const std::lock_guard lock(m_mutex);
    m_password.swap(copy);
}
