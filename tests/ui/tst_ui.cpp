#include "fittedtext.h"
#include "grabbedcolours.h"
#include "style.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QPushButton>
#include <QtTest>

// What the windows share on screen: texts that fit or are cut visibly, and
// coloured buttons, on real widgets with their real fonts.
class TestUi : public QObject
{
    Q_OBJECT

private slots:
    void fittedTextCutsOnlyWhatDoesNotFit_data();
    void fittedTextCutsOnlyWhatDoesNotFit();
    void labelCutsVisiblyAndKeepsTheWholeText();
    void editFieldCutsOnlyWhileTheOperatorIsElsewhere();
    void comboListAsWideAsItsWidestEntry();
    void colouredButtonInEveryState();
};

void TestUi::fittedTextCutsOnlyWhatDoesNotFit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("extra"); // pixels beyond the text's own width
    QTest::newRow("fits exactly") << QString::fromUtf8("PT100(-200-850)") << 0;
    QTest::newRow("fits with room") << QString::fromUtf8(" 0Ω80(0～80Ω) ") << 20;
    QTest::newRow("one pixel short") << QString::fromUtf8(" 正负100MV(-100-+100MV)") << -1;
    QTest::newRow("half the width") << QString::fromUtf8("23:正负100MV(-100-+100MV)") << -60;
    QTest::newRow("no room") << QStringLiteral("4800BPS") << -1000;
    QTest::newRow("empty") << QString() << 0;
}

void TestUi::fittedTextCutsOnlyWhatDoesNotFit()
{
    QFETCH(QString, text);
    QFETCH(int, extra);
    const QFontMetrics metrics(QApplication::font());
    const int width = qMax(0, metrics.horizontalAdvance(text) + extra);
    const QString fitted = fittedText(text, metrics, width);
    QVERIFY(metrics.horizontalAdvance(fitted) <= width);
    if (extra >= 0) {
        QCOMPARE(fitted, text);
    } else {
        QVERIFY(fitted != text);
        // What is left of the text is its beginning, and the cut shows.
        if (!fitted.isEmpty()) {
            QVERIFY(fitted.endsWith(QChar(0x2026)));
            QVERIFY(text.startsWith(fitted.chopped(1)));
        }
    }
}

void TestUi::labelCutsVisiblyAndKeepsTheWholeText()
{
    FittedLabel label;
    label.setFrameShape(QFrame::Box);
    label.resize(100, 25);
    label.show();
    const QString whole = QString::fromUtf8(" 正负100MV(-100-+100MV)");
    label.setWholeText(whole);
    QCOMPARE(label.text(), whole);
    QCOMPARE(label.toolTip(), whole);
    QVERIFY(label.shownText().endsWith(QChar(0x2026)));
    QVERIFY(label.fontMetrics().horizontalAdvance(label.shownText()) <= label.textRect().width());
    QVERIFY(label.textRect().left() > label.frameWidth()); // the indent of a framed label
    // The painted text differs from QLabel's own, which runs into the frame.
    QLabel plain(whole);
    plain.setFrameShape(QFrame::Box);
    plain.resize(label.size());
    QVERIFY(label.grab().toImage() != plain.grab().toImage());

    // A short text is shown whole, without a tooltip; widening shows a cut text whole.
    label.setWholeText(QStringLiteral("3"));
    QCOMPARE(label.shownText(), QStringLiteral("3"));
    QVERIFY(label.toolTip().isEmpty());
    label.setWholeText(whole);
    label.resize(label.fontMetrics().horizontalAdvance(whole) + 40, 25);
    QCOMPARE(label.shownText(), whole);
    QVERIFY(label.toolTip().isEmpty());
}

void TestUi::editFieldCutsOnlyWhileTheOperatorIsElsewhere()
{
    QWidget window;
    auto *field = new FittedLineEdit(&window);
    field->setGeometry(0, 0, 80, 24);
    auto *elsewhere = new QPushButton(QStringLiteral("x"), &window);
    elsewhere->setGeometry(0, 30, 40, 24);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QString whole = QString::fromUtf8("23:正负100MV(-100-+100MV)");
    field->setText(whole);
    elsewhere->setFocus();
    QCOMPARE(field->toolTip(), whole);
    QVERIFY(field->shownText().endsWith(QChar(0x2026)));
    QVERIFY(field->fontMetrics().horizontalAdvance(field->shownText()) <=
            field->textRect().width());
    // In the field, the operator edits the text itself.
    field->setFocus();
    QCOMPARE(field->shownText(), whole);
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClicks(field, QStringLiteral("7"));
    QCOMPARE(field->text(), whole + QStringLiteral("7"));
    QCOMPARE(field->toolTip(), whole + QStringLiteral("7"));
    // A text that fits needs no tooltip.
    field->setText(QStringLiteral("16"));
    elsewhere->setFocus();
    QCOMPARE(field->shownText(), QStringLiteral("16"));
    QVERIFY(field->toolTip().isEmpty());
}

void TestUi::comboListAsWideAsItsWidestEntry()
{
    QWidget window;
    auto *combo = new QComboBox(&window);
    combo->setEditable(true);
    combo->setCompleter(nullptr);
    combo->setGeometry(0, 0, 90, 24);
    for (int i = 0; i < 12; ++i) // more than the list shows at once: a scroll bar
        combo->addItem(QString::fromUtf8("%1:正负100MV(-100-+100MV)").arg(i));
    fitCombo(combo);
    QVERIFY(!combo->completer()); // no completion behind the operator's back
    QVERIFY(qobject_cast<FittedLineEdit *>(combo->lineEdit()));
    QCOMPARE(combo->currentText(), combo->itemText(0));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    QTRY_VERIFY(list->isVisible());
    for (int i = 0; i < combo->count(); ++i) {
        const QModelIndex index = list->model()->index(i, 0);
        QVERIFY(list->visualRect(index).width() >= list->sizeHintForIndex(index).width());
        QVERIFY(list->viewport()->width() >= list->sizeHintForIndex(index).width());
    }
    combo->hidePopup();
    // The combo itself keeps the width the layout gave it.
    QCOMPARE(combo->width(), 90);
}

void TestUi::colouredButtonInEveryState()
{
    QWidget window;
    auto *button = new QPushButton(QStringLiteral("CONFIG"), &window);
    button->setGeometry(10, 10, 73, 27);
    colourButton(button, qRgb(255, 128, 0));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(mostFrequentColour(button), QColor(255, 128, 0));
    button->setFocus();
    QCOMPARE(mostFrequentColour(button), QColor(255, 128, 0));
    button->setEnabled(false);
    QCOMPARE(mostFrequentColour(button), QColor(255, 128, 0));
    button->setEnabled(true);
    button->setDown(true); // pressed: darker, still orange
    const QColor pressed = mostFrequentColour(button);
    QVERIFY(pressed != QColor(255, 128, 0));
    QVERIFY(pressed.red() > pressed.green() && pressed.green() > pressed.blue());
}

QTEST_MAIN(TestUi)
#include "tst_ui.moc"
