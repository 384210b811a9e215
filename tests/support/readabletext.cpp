#include "readabletext.h"

#include "fittedtext.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QtTest>

namespace
{

const QChar kEllipsis(0x2026);

// `shown` as painted in `room` pixels of `metrics` stands for `whole`: the same
// text, or its beginning and an ellipsis, and the tooltip holds the whole then.
QString unreadable(const QString &whole, const QString &shown, const QString &toolTip,
                   const QFontMetrics &metrics, int room)
{
    if (metrics.horizontalAdvance(shown) > room)
        return QStringLiteral("\"%1\" painted wider than its %2 px").arg(shown).arg(room);
    if (shown == whole)
        return toolTip.isEmpty() || toolTip == whole
                   ? QString()
                   : QStringLiteral("\"%1\" with the tooltip \"%2\"").arg(whole, toolTip);
    if (!shown.endsWith(kEllipsis) || !whole.startsWith(shown.chopped(1)))
        return QStringLiteral("\"%1\" shown as \"%2\", cut silently").arg(whole, shown);
    if (toolTip != whole)
        return QStringLiteral("\"%1\" cut without the whole text as its tooltip").arg(whole);
    return QString();
}

} // namespace

QString unreadableLabelText(const FittedLabel *label)
{
    return unreadable(label->text(), label->shownText(), label->toolTip(), label->fontMetrics(),
                      label->contentsRect().width());
}

QString unreadableComboEntry(QComboBox *combo)
{
    // The drop-down list: every entry needs the width the list's own item
    // painting asks for, inside the list's visible area.
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    if (!QTest::qWaitFor([list] { return list->isVisible(); }))
        return QStringLiteral("%1: the list does not open").arg(combo->objectName());
    QString problem;
    for (int i = 0; i < combo->count() && problem.isEmpty(); ++i) {
        const QModelIndex index = list->model()->index(i, 0);
        const QRect item = list->visualRect(index);
        const int needed = list->sizeHintForIndex(index).width();
        if (item.width() < needed || item.left() < 0 || item.right() >= list->viewport()->width())
            problem = QStringLiteral("%1: \"%2\" needs %3 px, the list gives %4")
                          .arg(combo->objectName(), combo->itemText(i))
                          .arg(needed)
                          .arg(qMin(item.width(), list->viewport()->width()));
    }
    combo->hidePopup();
    if (!problem.isEmpty())
        return problem;

    // The edit field, the operator elsewhere.
    auto *field = qobject_cast<FittedLineEdit *>(combo->lineEdit());
    if (combo->isEditable() && !field)
        return QStringLiteral("%1: an edit field that cuts silently").arg(combo->objectName());
    for (int i = 0; field && i < combo->count() && problem.isEmpty(); ++i) {
        combo->setCurrentIndex(i);
        if (field->text() != combo->itemText(i))
            return QStringLiteral("%1: the field shows \"%2\" for \"%3\"")
                .arg(combo->objectName(), field->text(), combo->itemText(i));
        problem = unreadable(field->text(), field->shownText(), field->toolTip(),
                             field->fontMetrics(), field->contentsRect().width());
        if (!problem.isEmpty())
            problem.prepend(combo->objectName() + QStringLiteral(": "));
    }
    combo->setCurrentIndex(0);
    return problem;
}
