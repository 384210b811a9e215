#include "shared.h"

SharedTable<qint32, 500> CommSettings;
SharedTable<qint32, 500> InputRegisters;
SharedTable<float, 300> ProcessValues;
SharedTable<qint32, 100> InputStates;
SharedTable<qint32, 100> CoilStates;

qint32 ChartSpan = 0;
qint32 ChartLow = 0;
qint32 ChartHigh = 0;
qint32 ChartOffset = 0;

bool OverviewOpen = false;
bool PvRecorded = false;
bool LpvRecorded = false;
double PvLastTime = 0;
double PvLastDate = 0;
double LpvLastTime = 0;
double LpvLastDate = 0;

void resetSharedState()
{
    CommSettings.fill(0);
    InputRegisters.fill(0);
    ProcessValues.fill(0);
    InputStates.fill(0);
    CoilStates.fill(0);
    ChartSpan = 0;
    ChartLow = 0;
    ChartHigh = 0;
    ChartOffset = 0;
    OverviewOpen = false;
    PvRecorded = false;
    LpvRecorded = false;
    PvLastTime = 0;
    PvLastDate = 0;
    LpvLastTime = 0;
    LpvLastDate = 0;
}
