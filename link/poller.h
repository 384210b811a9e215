#pragma once

#include <QObject>

// The hidden poller: reads the instrument's input registers, discrete inputs
// and coils into the shared tables on every tick while the port is open.
class Poller : public QObject
{
    Q_OBJECT
public:
    explicit Poller(QObject *parent = nullptr);
};

// The poller's single instance, created on first use.
Poller *Met1();
