#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Runs zelmar-sim for a test: on a fresh pseudo-terminal, published in a
// temporary folder, with ZELMAR_PORT_<port> pointing at it so that
// OpenPort_Modbus(port, ...) reaches it. Stopped by the destructor.
class Simulator
{
public:
    // `arguments` are passed to zelmar-sim beside --link and --log, for example
    // {"--hold", "18=1"} or {"--silent"}.
    explicit Simulator(const QStringList &arguments = {});
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Starts the simulator for port number `port` and waits (up to about 3 s)
    // until its link exists. False when it did not come up.
    bool start(int port = 1);
    // Stops it (SIGTERM, then waits) and clears ZELMAR_PORT_<port>.
    void stop();
    // Stops it and starts it again on the same port with other arguments, e.g.
    // {"--silent"}. The pseudo-terminal is a new one: reopen the port afterwards.
    bool restart(const QStringList &arguments);

    // Makes the device vanish (SIGUSR1): its pseudo-terminal closes and the link
    // goes, as when a USB adapter is pulled out. Waits (up to about 3 s) until
    // the link is gone; false when it did not go.
    bool vanish();
    // Makes the device return (SIGUSR2) on a new pseudo-terminal at the same
    // link, and waits until the link exists again.
    bool comeBack();

    // Freezes the simulator (SIGSTOP): it reads and answers nothing until
    // resume() (SIGCONT), as an instrument that stops answering mid-run.
    bool pause();
    bool resume();

    // The lines "write REG VALUE" that the simulator logged, oldest first.
    QStringList writes() const;
    // The symlink that stands for the simulator's serial port.
    QString linkPath() const;
    bool isRunning() const;

    // The zelmar-sim executable of this build.
    static QString program();

private:
    // Waits until the link exists (or is gone), or the simulator ended.
    bool waitForLink(bool present) const;

    QStringList m_arguments;
    int m_port = 0;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
};
