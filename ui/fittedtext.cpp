#include "fittedtext.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>

namespace
{

// QLineEdit keeps this many pixels between its contents' edge and the text.
constexpr int kLineEditTextMargin = 2;

} // namespace

QString fittedText(const QString &text, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    return metrics.elidedText(text, Qt::ElideRight, width);
}

// ---- FittedLabel ----

void FittedLabel::setWholeText(const QString &text)
{
    setText(text);
    updateToolTip();
}

QRect FittedLabel::textRect() const
{
    // As QLabel places plain text: the contents less the margin, and, for a
    // framed label without an indent of its own, half an "x" on the aligned side.
    QRect rect = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    int indent = this->indent();
    if (indent < 0 && frameWidth() > 0)
        indent = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin();
    if (indent > 0) {
        const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
        if (align & Qt::AlignLeft)
            rect.setLeft(rect.left() + indent);
        if (align & Qt::AlignRight)
            rect.setRight(rect.right() - indent);
    }
    return rect;
}

QString FittedLabel::shownText() const
{
    return fittedText(text(), fontMetrics(), textRect().width());
}

void FittedLabel::paintEvent(QPaintEvent *event)
{
    const QString shown = shownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, textRect(),
                          int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), shown, foregroundRole());
}

void FittedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateToolTip();
}

void FittedLabel::updateToolTip()
{
    setToolTip(shownText() == text() ? QString() : text());
}

// ---- FittedLineEdit ----

FittedLineEdit::FittedLineEdit(QWidget *parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, &FittedLineEdit::updateToolTip);
}

QRect FittedLineEdit::textRect() const
{
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    return style()
        ->subElementRect(QStyle::SE_LineEditContents, &panel, this)
        .marginsRemoved(textMargins())
        .adjusted(kLineEditTextMargin, 0, -kLineEditTextMargin, 0);
}

QString FittedLineEdit::shownText() const
{
    // The operator in the field sees the text itself, scrolled to the cursor.
    if (hasFocus())
        return text();
    return fittedText(text(), fontMetrics(), textRect().width());
}

void FittedLineEdit::paintEvent(QPaintEvent *event)
{
    const QString shown = shownText();
    if (shown == text()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(textRect(), int(Qt::AlignLeft | Qt::AlignVCenter), shown);
}

void FittedLineEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    updateToolTip();
}

void FittedLineEdit::updateToolTip()
{
    const bool fits = fontMetrics().horizontalAdvance(text()) <= textRect().width();
    setToolTip(fits ? QString() : text());
}

// ---- Combos ----

void fitCombo(QComboBox *combo)
{
    if (combo->isEditable()) {
        // The new field replaces the old one, and with it its completer.
        const bool completes = combo->completer() != nullptr;
        combo->setLineEdit(new FittedLineEdit(combo));
        if (!completes)
            combo->setCompleter(nullptr);
    }
    QAbstractItemView *list = combo->view();
    int width = list->sizeHintForColumn(0) +
                2 * list->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, list);
    if (combo->count() > combo->maxVisibleItems())
        width += list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    list->setMinimumWidth(width);
}
