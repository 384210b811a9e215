#pragma once

#include <QObject>

// The hidden recorder: writes the process values into the pv_data and
// Lpv_wdjl rings of the recording database.
class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(QObject *parent = nullptr);
};

// The recorder's single instance, created and loaded on first use.
Recorder *mscom();
