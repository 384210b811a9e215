#pragma once

#include <QObject>

// The scaling entries and unit names in a real recording database: written by
// the recorder with their time, found again for the rows recorded under them.
class TestScalingStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void entryInForce_data();
    void entryInForce();
    void unchangedReadingAddsNothing();
    void changeIsJournaled();
    void foreignTableLeftAlone();
    void waitsWhileFileRefusesWrites();
    void operatorUnits();
    void damagedEntriesSkipped();
};
