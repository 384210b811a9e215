#pragma once

#include "sharedtable.h"

#include <QtGlobal>

// State that more than one window uses. One instance for the process, zero-filled
// at start; every reader and writer runs on the one UI thread, so there are no locks.

// Link settings and results, index-addressed (see the CommIndex constants).
extern SharedTable<qint32, 500> CommSettings;
// Receive buffer of the input-register read: element i is input register i+1.
extern SharedTable<qint32, 500> InputRegisters;
// Element i (0..15) is input register i+1 as a float, unscaled.
extern SharedTable<float, 300> ProcessValues;
// Element i (0..15) is discrete input i+1, 0 or 1.
extern SharedTable<qint32, 100> InputStates;
// Element i (0..7) is coil i+1, 0 or 1.
extern SharedTable<qint32, 100> CoilStates;

namespace CommIndex
{
constexpr int Port = 0;
constexpr int BaudCode = 1;
constexpr int ParityCode = 2;
constexpr int Address = 3;
constexpr int StagedWrite = 19; // value the configuration combos write next
constexpr int OpenResult = 20;  // result of the last port opening; nothing reads it
} // namespace CommIndex

// The chart's vertical range. Wide enough that every range the editor accepts
// (upper limits up to 36000, spans up to 48000) takes effect.
extern qint32 ChartSpan;
extern qint32 ChartLow;
extern qint32 ChartHigh;
extern qint32 ChartOffset;

constexpr qint32 kStartChartSpan = 1500;

// Recorder bookkeeping and notifications.
extern bool OverviewOpen; // the overview window is loaded
extern bool PvRecorded;   // a new pv_data row exists; the overview clears it
extern bool LpvRecorded;  // a new Lpv_wdjl row exists; nothing reads it
extern double PvLastTime; // time of day (fraction of a day) of the last pv_data row
extern double PvLastDate; // day serial of the last pv_data row
extern double LpvLastTime;
extern double LpvLastDate;

// Puts every shared value back to its process-start value (tests use it).
void resetSharedState();
