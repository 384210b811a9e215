#pragma once

#include "linkhealth.h"
#include "rowquality.h"

#include <QObject>

class Recorder;

// The quality of rows recorded while the link is in `state`, having come
// there from `cameFrom`. Only a live link yields readings; a port opened
// again after it was lost holds no reading until the first reply, like one
// just opened by "打开", but counts as the failure it still is.
RowQuality rowQualityFor(LinkState state, LinkState cameFrom);

// Follows a link's state for the recorder: the quality of a row recorded now.
class LinkQuality : public QObject
{
    Q_OBJECT
public:
    explicit LinkQuality(LinkHealth *link, QObject *parent = nullptr);

    // The quality of a row recorded at this moment.
    RowQuality current() const { return m_quality; }

private:
    void onStateChanged(LinkState from, LinkState to);

    RowQuality m_quality;
};

// Makes `recorder` mark each row with the quality of `link`'s state at that tick.
void recordQualityOf(Recorder *recorder, LinkHealth *link);
