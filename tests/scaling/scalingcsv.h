#pragma once

#include <QObject>

// The CSV export and the web view's history in engineering values: each row by
// the scaling in force when it was recorded, from a real recording database.
class TestScalingCsv : public QObject
{
    Q_OBJECT
private slots:
    void rowKeepsItsScaling_data();
    void rowKeepsItsScaling();
    void rawExport();
    void beforeAnyScalingStaysRaw();
    void unitChangeInHeader();
    void historyJsonDecimals();
    void liveJson_data();
    void liveJson();
};
