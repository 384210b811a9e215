#pragma once

// "单位名称": where the operator names the units of the channels the
// instrument scales as linear signals (input types 17..31): a pressure, a
// flow, a level has whatever unit the transmitter was ranged in, which the
// instrument does not tell. Opened from "通讯状态" and from the history window.

#include "scaling.h"

#include <QString>
#include <QVector>
#include <QWidget>

#include <array>

class FittedLabel;
class QLineEdit;
class QPushButton;
class Recorder;
class ScalingWatch;

// What the operator typed, checked against what the instrument scales.
struct UnitNames {
    bool accepted = false;
    OperatorUnits units;  // the names to keep, when accepted
    QVector<int> changed; // the channels whose name differs from before
    QString message;      // why it was refused: the first refused channel and its reason
};

// Whether channel scaling `known` takes its unit from the operator: a linear input type.
bool namesItsUnit(const std::optional<ChannelScaling> &known);

// Checks `typed` (one text per channel) with checkUnitText() for the channels
// that name their unit (namesItsUnit); the others keep `before`'s name. Refused
// as a whole when one name is refused, so a half-applied set is never stored.
UnitNames checkUnitNames(const std::array<QString, kScaledChannels> &typed,
                         const KnownScaling &known, const OperatorUnits &before);

// The dialog: one field per channel, editable where the channel is linear
// ("unitEdit(0)" .. "unitEdit(3)"), the reason of a refusal ("unitMessage"),
// "确定" ("unitApply") and "取消" ("unitCancel"); Esc closes it.
class UnitDialog : public QWidget
{
    Q_OBJECT
public:
    // Names units in `watch`'s scaling; each change stored and journaled by `recorder`.
    UnitDialog(Recorder *recorder, ScalingWatch *watch, QWidget *parent = nullptr);

    // Checks the fields; when every name is accepted, hands each changed one
    // to the recorder (stored with the moment, journaled) and all to the
    // watch, and closes. False, with the reason shown and nothing stored, when one is refused.
    bool apply();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void fill();

    Recorder *m_recorder = nullptr;
    ScalingWatch *m_watch = nullptr;
    std::array<QLineEdit *, kScaledChannels> m_edits{};
    FittedLabel *m_message = nullptr;
};

// The windowed tool's dialog over its recorder (mscom) and scaling watch, one
// at a time, a window of its own above `parent`'s.
void openUnitDialog(QWidget *parent);
