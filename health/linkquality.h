#pragma once

#include "linkhealth.h"
#include "rowquality.h"
#include "tablefreshness.h"

#include <QObject>

class Poller;
class Recorder;

// The quality of rows recorded while the link is in `state`, having come
// there from `cameFrom`. Only a live link yields readings; a port opened
// again after it was lost holds no reading until the first reply, like one
// just opened by "打开", but counts as the failure it still is.
RowQuality rowQualityFor(LinkState state, LinkState cameFrom);

// The same for one instrument whose values may not have been read although it
// answers (an exception reply to the value read): those rows hold the last
// values, never a reading.
RowQuality instrumentRowQuality(LinkState state, LinkState cameFrom, bool valuesRead);

// Follows a link's state for the recorder: the quality of a row recorded now.
class LinkQuality : public QObject
{
    Q_OBJECT
public:
    explicit LinkQuality(LinkHealth *link, QObject *parent = nullptr);

    // The quality of a row recorded at this moment.
    RowQuality current() const;

    // One poll ended; `valuesRead` when it read the values (input registers).
    void valuesPolled(bool valuesRead) { m_values.read(valuesRead); }

private:
    void onStateChanged(LinkState from, LinkState to);

    LinkState m_state;
    LinkState m_cameFrom = LinkState::NotOpened;
    TableFreshness m_values;
};

// Makes `recorder` mark each row with the quality of `link`'s state and of
// `poller`'s value reads at that tick.
// Returns the quality it marks rows with (owned by the recorder), for others
// that show the rows as they are recorded.
LinkQuality *recordQualityOf(Recorder *recorder, LinkHealth *link, Poller *poller);
