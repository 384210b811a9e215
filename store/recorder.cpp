#include "recorder.h"

// Placeholder until the recorder lands.
Recorder::Recorder(QObject *parent) : QObject(parent) {}

Recorder *mscom()
{
    static Recorder *instance = new Recorder;
    return instance;
}
