#pragma once

#include "ChildProcess.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>
#include <sys/types.h>

// The real program, installed from build/bin into a fresh folder and started there (its
// working directory, so the encoder simulator's files are there too), offscreen.
// Not thread-safe.
class TProgramInstance
{
public:
    struct TAnswer
    {
        bool Answered = false; // a terminated answer arrived
        QByteArray Body;       // without the terminator
        bool ClosedByPeer = false;
    };

    TProgramInstance();
    TProgramInstance(const TProgramInstance&) = delete;
    TProgramInstance& operator=(const TProgramInstance&) = delete;

    QString Dir() const { return m_dir.path(); }
    QString FilePath(const QString& name) const { return m_dir.filePath(name); }
    void WriteFile(const QString& name, const QByteArray& bytes) const;
    QByteArray ReadFile(const QString& name) const;

    // Writes Option.ini (GBK lines given as UTF-8 text); DoorlockPortNo is set to a free port
    // unless the lines set it.
    void WriteOptions(const QString& lines);

    // Starts and waits until the program says it listens (false if it did not within the
    // timeout or ended).
    bool Start(int timeoutMs = 20000);
    quint16 Port() const { return m_port; }
    pid_t Pid() const { return m_process.Pid(); }
    bool Running();

    // One connection: sends the bytes (and the terminator unless told not to), then reads
    // until the terminator or the end of the stream. A chunk size sends the bytes in pieces.
    TAnswer Request(const QByteArray& body, bool terminate = true, int timeoutMs = 20000,
                    qsizetype chunk = 0) const;

    // SIGTERM, then waits; returns the exit status, or -1 for a signal or a timeout.
    int Terminate(int timeoutMs = 20000);
    // Waits for the end without signalling.
    int WaitForExit(int timeoutMs);

    QString Log() const;    // the operation log, decoded from GBK
    QString StdOut() const; // everything the program printed
    QStringList Journal() const;

private:
    QTemporaryDir m_dir;
    TChildProcess m_process; // its output goes to stdout.txt
    quint16 m_port = 0;
};

// A free TCP port on the IPv4 wildcard (bound once and released).
quint16 FreePort();
