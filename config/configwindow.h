#pragma once

#include "parametermap.h"
#include "writeoutcome.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <optional>

class FittedLabel;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimer;

// The configuration window: reads the instrument's 53 parameters every second
// and writes the one the operator changed.
//
// Lifetime (the function behind each transition in brackets):
//
//   none     --"CONFIG", first or after a leave--> loaded    [CONFIG1(), ConfigWindow()]
//   loaded   --Timer1 tick, registers 1..32-->     yielding  [readCycle()]
//   yielding --pending events ran, still loaded--> loaded    [readCycle(): 33..64, labels]
//   yielding --" Esc 返回" ran in the yield-->      unloading [leaveWindow(); readCycle() stops]
//   loaded   --" Esc 返回" or Esc-->                unloading [leaveWindow()]
//   unloading --deferred delete-->                 none      [~ConfigWindow()]
//   loaded   --close box-->                        loaded    [closeEvent() refuses]
//
// Loaded: close guard set, Timer1 running, a leave of an entry control writes
// (eventFilter, leaveCombo, leaveEntry); Esc over an open drop-down list only
// closes the list (eventFilter), so it neither leaves nor writes.
// Yielding: between the two block reads; the operator's leaves, " Esc 返回"
// and other windows' ticks may run.
// Unloading: guard cleared, Timer1 stopped, hidden, returned() emitted, no
// more writes; CONFIG1() already builds a fresh window, combos on their first
// entries.
class ConfigWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kReadInterval{1000};

    // The window's load: builds the rows from the parameter map and starts Timer1.
    explicit ConfigWindow(QWidget *parent = nullptr);
    ~ConfigWindow() override;

    // One tick of Timer1: registers 1..32, a yield to pending events, registers
    // 33..64, then all 53 value labels.
    void readCycle();

    // Row r-1 holds the last value read from register r.
    const std::array<qint32, ParameterMap::kTableRows> &parameterTable() const
    {
        return m_parameterTable;
    }
    // True from load until " Esc 返回"; the close box is refused while it holds.
    bool closeGuard() const { return m_closeGuard; }

signals:
    // The operator left through " Esc 返回"; the window is being unloaded and
    // the overview should be shown again.
    void returned();
    // A leave wrote `value` to register `reg` with this outcome; `shownBefore` is
    // the value the last read-back showed, nullopt before any read-back of it.
    void parameterWritten(int reg, qint32 value, WriteOutcome outcome,
                          std::optional<qint32> shownBefore);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildFrame();
    QWidget *buildPage(int tab);
    void buildRow(QWidget *page, const ParameterRow &row, int top);
    QComboBox *buildCombo(QWidget *page, const ParameterRow &row, int comboNumber);
    QLineEdit *buildEntry(QWidget *page, const ParameterRow &row);
    void buildPictures();
    void showTab(int tab);
    void showValues();
    void leaveCombo(int comboNumber);
    void leaveEntry(int index);
    void leaveWindow();
    std::optional<qint32> shownValue(const ParameterRow &row) const;

    std::array<qint32, ParameterMap::kTableRows> m_parameterTable{};
    // Whether each of the two block reads has filled its rows at least once.
    std::array<bool, 2> m_blockRead{};
    bool m_closeGuard = false;
    bool m_unloading = false;

    QTimer *m_timer1 = nullptr;
    QStackedWidget *m_pages = nullptr;
    QButtonGroup *m_tabButtons = nullptr;
    QPushButton *m_leaveButton = nullptr;

    // Indexed by table row; entries only on integer and tenths rows.
    std::array<FittedLabel *, ParameterMap::kRegisterCount> m_valueLabels{};
    std::array<QLineEdit *, ParameterMap::kRegisterCount> m_entries{};
    std::array<bool, ParameterMap::kRegisterCount> m_entryEdited{};

    // Indexed by combo number 1..21 (element 0 unused).
    std::array<QComboBox *, ParameterMap::kComboCount + 1> m_combos{};
    std::array<bool, ParameterMap::kComboCount + 1> m_comboChanged{};
    // What the combo showed after load, after the operator's last pick or after
    // its last write: free text that names no code is replaced by it.
    std::array<QString, ParameterMap::kComboCount + 1> m_comboShown{};
};

// The single instance, created and loaded on first use; a fresh one after each unload.
ConfigWindow *CONFIG1();
