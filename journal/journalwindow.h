#pragma once

#include "journalrows.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <chrono>
#include <deque>
#include <optional>

class EventJournal;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

// The rows of the journal view, newest first: the rows of a RowBuilder that
// the filter let through, growing at the top as events are recorded and at
// the bottom as older events are read.
class JournalModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { When, Kind, Source, Detail, Duration, ColumnCount };

    explicit JournalModel(QObject *parent = nullptr);

    // Shows the rows of `serials` (ascending) of `rows`, which must outlive the model's use.
    void show(const Journal::RowBuilder *rows, const std::vector<qint64> &serials);
    // A new row on top.
    void addNewest(qint64 serial);
    // Older rows at the bottom, `serials` ascending; durations above may have changed.
    void addOlder(const std::vector<qint64> &serials);
    // The serials shown, top to bottom.
    std::vector<qint64> shownSerials() const;

    // The table's shape, texts and column titles.
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    qint64 serialAt(int row) const;

    const Journal::RowBuilder *m_rows = nullptr;
    std::vector<qint64> m_top;  // added since show(), ascending (shown reversed)
    std::vector<qint64> m_rest; // the others, top to bottom (descending)
};

// The journal view "事件记录": every event of the events table, newest first,
// with a filter by kind, time range and text, the alarm episodes of the last
// day per channel, and the rows shown exported to CSV. New events appear as
// they are written, whoever writes them (the journal, the link's and the
// recorder's health, the historian's forwarder), and the journal's own events
// at once while they wait for the database. Closing it only hides it; while
// hidden it follows nothing (a tool left running for weeks would otherwise read
// and keep every event in a view no one looks at) and catches up when shown.
class JournalWindow : public QWidget
{
    Q_OBJECT
public:
    // The view of `journal`, loaded from its database and its waiting events.
    explicit JournalWindow(EventJournal *journal, QWidget *parent = nullptr);

    // Reads every event again: those waiting for the database and the newest
    // stored ones at once, the rest of the ring in pieces on later turns of
    // the event loop, so that the view opens at once on a full ring.
    void reload();
    // Whether older events are still being read.
    bool isLoading() const;
    // The filter the controls show.
    Journal::JournalFilter filter() const;
    // Stored events read per turn of the event loop after the first ones.
    static constexpr int kFirstRead = 2000;
    static constexpr int kReadPerTurn = 2000;
    // The pieces follow one another as soon as the event loop is free.
    static constexpr std::chrono::milliseconds kReadInterval{0};
    // While shown, the table is looked at this often for events others wrote.
    static constexpr std::chrono::seconds kWatchInterval{1};

    // Writes the rows shown to `path` as CSV; false (no file left) when it fails.
    bool exportCsv(const QString &path) const;
    // The model behind the table.
    const JournalModel &model() const { return m_model; }

private:
    void buildControls();
    void loadOlder(int count);
    void applyFilter();
    void onRecorded(const Event &event);
    bool readNewStored();
    void addEvent(const Event &event);
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void showCounts();
    void chooseExportFile();

    EventJournal *m_journal = nullptr;
    Journal::RowBuilder m_builder;
    JournalModel m_model;
    QTimer *m_loadTimer = nullptr;
    std::optional<qint32> m_loadNewest;  // the newest stored id when the reading began
    int m_loaded = 0;                    // ring positions read below it
    int m_writtenSince = 0;              // events written since: they overwrite the oldest ids
    std::optional<qint32> m_shownNewest; // the newest stored id shown
    // The journal's events shown while they waited for the database, oldest
    // first, until they are met in the table.
    std::deque<Event> m_waiting;
    // The journal recorded events while the view was hidden: not read yet.
    bool m_missedWhileHidden = false;
    QTimer *m_watchTimer = nullptr;

    QComboBox *m_kind = nullptr;
    QCheckBox *m_rangeOn = nullptr;
    QDateTimeEdit *m_from = nullptr;
    QDateTimeEdit *m_to = nullptr;
    QLineEdit *m_search = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_counts = nullptr;
    QPushButton *m_export = nullptr;
};

// The journal view of the tool's journal, created on first use (not shown).
JournalWindow *journalWindow();
