#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QString>

class QComboBox;
class QFontMetrics;

// Controls keep the width the layout gives them; a text wider than that is cut
// visibly, with an ellipsis, and its control holds the whole text as its
// tooltip, so that every text can be read.

// `text` as it fits `width` pixels in `metrics`: whole when it fits, else cut at
// the right and ended with an ellipsis.
QString fittedText(const QString &text, const QFontMetrics &metrics, int width);

// A label whose text is cut visibly when it is wider than the label; text()
// stays the whole text.
class FittedLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

    // Sets the whole text; when it does not fit, it is also the tooltip.
    void setWholeText(const QString &text);
    // The text as the label paints it.
    QString shownText() const;
    // The pixels the text has: the contents less margin and indent, as QLabel lays it out.
    QRect textRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateToolTip();
};

// An edit field that, while the operator is not in it, cuts a text wider than
// itself visibly, with the whole text as its tooltip; while the operator edits,
// it scrolls with the cursor as any edit field does.
class FittedLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit FittedLineEdit(QWidget *parent = nullptr);

    // The text as the field paints it now.
    QString shownText() const;
    // The pixels the text has inside the frame and the field's margins.
    QRect textRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateToolTip();
};

// Makes every entry of an editable combo readable: its edit field becomes a
// FittedLineEdit and its drop-down list is as wide as its widest entry. Call it
// once the entries are in and before connecting to the edit field.
void fitCombo(QComboBox *combo);
