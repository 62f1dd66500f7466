#pragma once

#include <QString>
#include <mutex>

// Encoder settings: section DoorlockOption, keys PortName and DataBasePath.
// Until Load the fields hold the defaults. Thread-safe: the GUI changes PortName while
// connection workers read it.
class TOption
{
public:
    explicit TOption(QString fileName);

    void Load();
    void Save(); // throws DoorlockError "Unable to write to <file>"

    // 1 to 10 for exactly "COM1" to "COM10"; 0 for any other name.
    int PortNumber() const;

    QString FileName() const { return m_fileName; }
    QString PortName() const;
    void SetPortName(const QString& value);
    QString DataBasePath() const;
    void SetDataBasePath(const QString& value);

private:
    const QString m_fileName;
    mutable std::mutex m_mutex;
    QString m_portName;
    QString m_dataBasePath;
};
