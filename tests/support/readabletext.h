#pragma once

#include <QString>

class FittedLabel;
class QComboBox;

// Whether the operator can read every text a control shows, measured with the
// control's own font metrics. Each returns an empty string when all is
// readable, else what cannot be read.

// The label's whole text: shown whole, or cut with an ellipsis inside the label
// and whole in its tooltip.
QString unreadableLabelText(const FittedLabel *label);

// Every entry of the combo, in its drop-down list (whole, none shortened) and in
// its edit field (as the label's text above). Opens the list and closes it again;
// the combo ends on its first entry.
QString unreadableComboEntry(QComboBox *combo);
