#pragma once

#include <QObject>

// The scaling read from zelmar-sim on a pseudo-terminal, after real polls.
class TestScalingLink : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void slotRule_data();
    void slotRule();
    void scalingRegisters_data();
    void scalingRegisters();
    void decimalPointRead_data();
    void decimalPointRead();
    void unitsByInputType_data();
    void unitsByInputType();
    void readRefusedKeepsLastKnown();
    void readTimedOutStaysRaw();
    void writeOfDecimalPointRereads();
    void noReadWithoutRoomOrAnswer();
};
