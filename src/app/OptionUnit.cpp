#include "OptionUnit.h"

#include "PrivateProfile.h"

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

QString section()
{
    return u"DoorlockOption"_s;
}

QString defaultPortName()
{
    return u"COM1"_s;
}

QString defaultDataBasePath()
{
    return u"C:\\\\"_s;
}

} // namespace

TOption::TOption(QString fileName)
    : m_fileName(std::move(fileName)), m_portName(defaultPortName()),
      m_dataBasePath(defaultDataBasePath())
{}

void TOption::Load()
{
    const TPrivateProfile ini(m_fileName);
    QString portName = ini.ReadString(section(), u"PortName"_s, defaultPortName());
    QString dataBasePath = ini.ReadString(section(), u"DataBasePath"_s, defaultDataBasePath());
    const std::lock_guard lock(m_mutex);
    m_portName = std::move(portName);
    m_dataBasePath = std::move(dataBasePath);
}

void TOption::Save()
{
    // Copies, so that the file is written without holding the lock the workers need.
    const QString portName = PortName();
    const QString dataBasePath = DataBasePath();
    TPrivateProfile ini(m_fileName);
    ini.WriteString(section(), u"PortName"_s, portName);
    ini.WriteString(section(), u"DataBasePath"_s, dataBasePath);
}

int TOption::PortNumber() const
{
    const QString portName = PortName();
    for (int number = 1; number <= 10; ++number) {
        if (portName == u"COM"_s + QString::number(number))
            return number;
    }
    return 0;
}

QString TOption::PortName() const
{
    const std::lock_guard lock(m_mutex);
    return m_portName;
}

void TOption::SetPortName(const QString& value)
{
    // Swapped in under the lock; the old text is released after it.
    QString copy = value;
    const std::lock_guard lock(m_mutex);
    m_portName.swap(copy);
}

QString TOption::DataBasePath() const
{
    const std::lock_guard lock(m_mutex);
    return m_dataBasePath;
}

void TOption::SetDataBasePath(const QString& value)
{
    // Swapped in under the lock; the old text is released after it.
    QString copy = value;
    const std::lock_guard lock(m_mutex);
    m_dataBasePath.swap(copy);
}
