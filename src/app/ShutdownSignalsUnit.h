#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the GUI thread, so a service manager or Ctrl-C
// ends the program through its normal tear-down. One instance per process; GUI thread only.
class TShutdownSignals : public QObject
{
    Q_OBJECT

public:
    explicit TShutdownSignals(QObject* parent = nullptr);
    ~TShutdownSignals() override;

    bool Received() const { return m_received; }

signals:
    void Requested();

private:
    void ReadSignal();

    QSocketNotifier* m_notifier = nullptr;
    bool m_received = false;
};
