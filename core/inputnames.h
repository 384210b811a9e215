#pragma once

#include <array>

// The instrument's 16 discrete inputs by name, as the overview's status boxes
// show them and the journal names them: per channel in turn alarm, open
// circuit and short circuit (inputs 1..12), then its alarms 1..4 (13..16).
constexpr int kDiscreteInputCount = 16;
constexpr std::array<const char *, kDiscreteInputCount> kDiscreteInputNames = {
    "通道一报警", "通道一开路", "通道一短路", "通道二报警", "通道二开路", "通道二短路",
    "通道三报警", "通道三开路", "通道三短路", "通道四报警", "通道四开路", "通道四短路",
    "1有报警",    "2有报警",    "3有报警",    "4有报警",
};
