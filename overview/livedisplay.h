#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>

// What the overview's 200 ms tick shows: the texts and colours of the value,
// status and relay boxes and of the Y-axis scale labels, computed from the
// shared tables.
namespace LiveDisplay
{

constexpr int kValueBoxes = 5;   // D_3W(0..4): channels 1..4, retransmission value
constexpr int kStatusBoxes = 16; // D_2R(0..15): per channel alarm, open, short; alarms 1..4
constexpr int kRelayBoxes = 4;   // D_1R(0..3)
constexpr int kScaleLabels = 7;  // Label5(0..6), 0 at the bottom of the chart

constexpr QRgb kReadoutBackground = qRgb(128, 255, 128); // Label2(9), Label2(10)
constexpr QRgb kSetBackground = qRgb(255, 192, 192);     // status set, relay closed
constexpr QRgb kClearBackground = qRgb(192, 255, 255);   // status clear
constexpr QRgb kOpenBackground = qRgb(128, 255, 128);    // relay open

struct BoxLook {
    QString text;
    QColor background;

    bool operator==(const BoxLook &o) const { return text == o.text && background == o.background; }
};

// Label5(index): round(index × s) + low with s = span / 6 rounded to single
// precision and the product formed in single precision, halves to even.
QString scaleLabelText(int index, qint32 span, qint32 low);

// D_2R(index) for the state of discrete input index+1.
BoxLook statusLook(int index, qint32 state);

// D_1R(index) for the state of coil index+1.
BoxLook relayLook(int index, qint32 state);

} // namespace LiveDisplay
