#include "poller.h"

// Placeholder until the poller lands.
Poller::Poller(QObject *parent) : QObject(parent) {}

Poller *Met1()
{
    static Poller *instance = new Poller;
    return instance;
}
