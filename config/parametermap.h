#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The instrument's configuration as data: 53 holding registers, where each one
// sits in the configuration window, its captions, how it is entered, and how
// its value is shown after a read and formed for a write. The window builds its
// rows from this table; no register has code of its own.

enum class ValueKind {
    Integer, // shown and entered as a whole number
    Tenths,  // the register holds tenths: 25 is shown as "2.5", 2.5 is written as 25
    Coded,   // one of an option list's codes, entered through a combo
};

enum class OptionList {
    None,
    AlarmMode,
    BaudRate,
    Parity,
    RetransmissionChannel, // the only list whose codes start at 1
    RetransmissionRange,
    InputType,
    DecimalPoint,
    TemperatureUnit,
    RelayFunction,
    OpenInputRelayHandling,
    OpenInputRelayPreset,
    OpenInputRetransmissionHandling,
};

// One entry of an option list. The combo offers entryText; the value label
// shows readBackText, which differs from it (UTF-8, blanks included).
struct OptionRow {
    qint32 code;
    const char *entryText;
    const char *readBackText;
};

// One page of the window's tab control and the registers it shows.
struct TabRow {
    const char *caption;
    int firstRegister;
    int lastRegister;
};

// One configuration register (UTF-8 captions; a hint may end in CR LF).
struct ParameterRow {
    int reg;             // holding register 1..53
    int row;             // ParameterTable row and D_4W index: reg - 1
    int tab;             // index into the tabs, 0..9
    const char *name;    // Label1 caption
    const char *hint;    // Label2 caption
    const char *control; // entry control's objectName: "T_3RW(n)" or "ComboN"
    ValueKind kind;
    OptionList list; // None unless kind is Coded
};

// A contiguous run of table rows that range-for can walk.
template <typename Row> struct RowRange {
    const Row *first = nullptr;
    int count = 0;
    const Row *begin() const { return first; }
    const Row *end() const { return first + count; }
    int size() const { return count; }
    const Row &operator[](int i) const { return first[i]; }
};

namespace ParameterMap
{

constexpr int kRegisterCount = 53; // registers 1..53 are shown and written
constexpr int kTableRows = 101;    // ParameterTable rows 0..100
constexpr int kBlockSize = 32;     // registers per block read
constexpr int kSecondBlockFirst = 33;
constexpr int kComboCount = 21;
constexpr int kTabCount = 10;

// All 53 registers in register order.
RowRange<ParameterRow> parameters();
// The row of register reg, or nullptr outside 1..53.
const ParameterRow *parameterOf(int reg);
// The tabs in the order of their buttons.
RowRange<TabRow> tabs();
// The entries of a list in the order the combo offers them (empty for None).
RowRange<OptionRow> options(OptionList list);

// N for a row entered through ComboN, nullopt for an entry box.
std::optional<int> comboNumber(const ParameterRow &row);
// The row entered through ComboN, nullptr when there is no such combo.
// Combo numbers do not follow register order (Combo11 writes 31, Combo12 30).
const ParameterRow *comboParameter(int comboNumber);

// The text a value label shows for value v; nullopt when a coded value matches
// no code, so that the label keeps what it showed before.
std::optional<QString> shownText(const ParameterRow &row, qint32 value);

// The value an entry box writes for the operator's text: the leading number held
// in single precision, times 10 for tenths, rounded halves to even. nullopt when
// the result does not fit 32 bits (nothing is written then).
std::optional<qint32> entryValue(ValueKind kind, const QString &text);

// The code a combo writes for its edit text: the code of the entry that reads
// exactly so; otherwise the text's leading number when it is one of the list's
// codes; otherwise nullopt (free text writes nothing).
std::optional<qint32> comboCode(OptionList list, const QString &editText);

} // namespace ParameterMap
