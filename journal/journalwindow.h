#pragma once

#include "journalrows.h"

#include <QAbstractTableModel>
#include <QWidget>

class EventJournal;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// The rows of the journal view, newest first, over the rows a RowBuilder keeps
// and the positions the filter let through.
class JournalModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { When, Kind, Source, Detail, Duration, ColumnCount };

    explicit JournalModel(QObject *parent = nullptr);

    // Shows `positions` of `rows` (both oldest first); `rows` must outlive the model's use.
    void show(const std::vector<Journal::JournalRow> *rows, std::vector<int> positions);
    // Adds the newest row, at position `position` of the rows, on top.
    void addNewest(int position);
    // The positions shown, oldest first.
    const std::vector<int> &positions() const { return m_positions; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const std::vector<Journal::JournalRow> *m_rows = nullptr;
    std::vector<int> m_positions;
};

// The journal view "事件记录": every event of the journal, newest first, with
// a filter by kind, time range and text, the alarm episodes of the last day per
// channel, and the rows shown exported to CSV. New events appear as they are
// recorded. Closing it only hides it.
class JournalWindow : public QWidget
{
    Q_OBJECT
public:
    // The view of `journal`, loaded from its database and its waiting events.
    explicit JournalWindow(EventJournal *journal, QWidget *parent = nullptr);

    // Reads every event again (the database and the queue) and applies the filter.
    void reload();
    // The filter the controls show.
    Journal::JournalFilter filter() const;
    // Writes the rows shown to `path` as CSV; false (no file left) when it fails.
    bool exportCsv(const QString &path) const;
    // The model behind the table.
    const JournalModel &model() const { return m_model; }

private:
    void buildControls();
    void applyFilter();
    void addEvent(const Event &event);
    void showCounts();
    void chooseExportFile();

    EventJournal *m_journal = nullptr;
    Journal::RowBuilder m_builder;
    JournalModel m_model;

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
