#pragma once

#include "scaling.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

// What one poll left in the shared tables of one instrument, with the words and
// colours the windows show for it: what the web view serves and pushes. The UI
// thread (or the recorder's loop) fills one after each poll; the server's
// thread only reads it, so it is handed over whole and never changed after.
struct LiveSnapshot {
    static constexpr int kValues = 5; // channels 1..4, the retransmission value DA
    static constexpr int kExtras = 3; // input registers 6..8
    static constexpr int kInputs = 16;
    static constexpr int kRelays = 4;

    // A box of the overview's panel: its text and background ("#rrggbb").
    struct Box {
        QString name; // what it stands for: "通道一报警", "继电器1"
        QString text;
        QString colour;
        bool stale = false; // not what the instrument says now: greyed as the overview greys it
    };

    int address = 1;       // the instrument's place in the view (/a/<address>/)
    int moduleAddress = 1; // its Modbus address, as the page names it
    quint64 sequence = 0;  // polls published for this instrument so far
    QDateTime time;        // when the poll landed, local with its offset
    std::array<float, kValues> values{};
    // The channels' scaling as last read from the instrument; nothing where none is known.
    KnownScaling scaling{};
    std::array<float, kExtras> extras{};
    // The values are not current (the link not live, or their reads failed): greyed on
    // the page by the overview's rule for its value boxes.
    bool valuesStale = false;
    std::optional<int> quality; // the quality code of a row recorded now
    QString qualityText;
    std::array<bool, kInputs> inputs{};
    std::array<bool, kRelays> relays{};
    std::array<Box, kInputs> inputBoxes{};
    std::array<Box, kRelays> relayBoxes{};
    QString linkState;  // "live", "no-answer", ...: for programs
    QString linkText;   // "在线", "无应答", ...: as the strip says it
    QString linkColour; // the strip's colour of that state
    QString linkReason; // the failure behind a state that is not live
    QString linkDetail; // the strip's text beside the state (age of the last reply, reason)
    std::optional<QDateTime> lastReply; // this instrument's last reply, not the port's
    bool recording = false;
    QString recordingText;
    QString recordingColour;
    std::optional<int> unacknowledged; // alarms not acknowledged, where the tool keeps them
};

// An instant as ISO 8601 with its offset from UTC: "2026-12-07T08:00:05+01:00".
QString isoWithOffset(const QDateTime &moment);

// The snapshot as the JSON object of /api/live (and of each pushed message):
// besides the values as the instrument reports them ("ch1".."da"), per channel
// "channels":[{"value", "text", "raw", "decimals", "unit"}, …] (the engineering
// value as a number and as exact text; decimals and unit null while no scaling
// is known, when value and text are the raw integer) and "daUnit":"%".
QByteArray liveJson(const LiveSnapshot &snapshot);

// A colour as the page writes it: "#rrggbb".
QString colourText(quint32 rgb);
