#include "configwindow.h"

#include "colours.h"
#include "confighealth.h"
#include "controlname.h"
#include "fittedtext.h"
#include "healthmonitor.h"
#include "modbuslink.h"
#include "numbers.h"
#include "shared.h"
#include "twips.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>

#include <functional>

namespace
{

QPointer<ConfigWindow> s_instance;

constexpr int kClientWidth = 14610;
constexpr int kClientHeight = 9540;
constexpr int kFrameLeft = 90, kFrameTop = 45, kFrameWidth = 14430, kFrameHeight = 5190;
constexpr int kTabLeft = 60, kTabTop = 300, kTabWidth = 14325, kTabHeight = 4815;
constexpr int kTabsPerRow = 5;
constexpr int kTabButtonHeight = 375;
// The rows of a page start about 900 twips below the top of the tab control,
// below the two rows of tab buttons.
constexpr int kFirstRowTop = 900 - 2 * kTabButtonHeight;
constexpr int kRowPitchFew = 690;  // pages of up to five rows
constexpr int kRowPitchMany = 480; // the eight-row pages
constexpr int kRowHeight = 375;
constexpr int kNameLeft = 150, kNameWidth = 2160;
constexpr int kValueLeft = 2400, kValueWidth = 1545;
constexpr int kEntryLeft = 4080, kEntryWidth = 2115;
constexpr int kHintLeft = 6600, kHintWidth = 7335, kHintHeight = 435;
constexpr int kPictureTop = 5400, kPictureWidth = 3600, kPictureHeight = 2900;
constexpr int kLeaveLeft = 12900, kLeaveTop = 8850, kLeaveWidth = 1560, kLeaveHeight = 540;

const QColor kHintText(0, 0, 192);
const QColor kEntryBackground(255, 255, 255);

// One write transaction of a leave handler: the write, and exactly one retry
// when the exchange failed. Port and address are read from CommSettings for
// each call, as the value is, so a retry sends what the handler staged. The
// outcome is only reported: nothing here acts on it.
WriteOutcome writeRegister(int reg, const std::function<qint32()> &value)
{
    if (Set_4X_D1(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address], reg, value()) !=
        kLinkWriteFailed)
        return WriteOutcome::Written;
    return Set_4X_D1(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address], reg,
                     value()) == kLinkWriteFailed
               ? WriteOutcome::FailedAfterRetry
               : WriteOutcome::WrittenOnRetry;
}

// Whether a focus loss is the operator moving on to another control. Not so
// while a drop-down list is open: opening it moves the focus into the list (a
// popup loss, then another one to the list's view) and closing it gives the
// focus back to the combo. Nor when another application takes the activation.
bool isLeave(const QFocusEvent *event)
{
    return event->reason() != Qt::PopupFocusReason &&
           event->reason() != Qt::ActiveWindowFocusReason && !QApplication::activePopupWidget();
}

} // namespace

ConfigWindow::ConfigWindow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CONFIG1"));
    setWindowTitle(QStringLiteral("ZELMAR CONFIG "));
    resize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));

    buildFrame();
    buildPictures();

    m_leaveButton = new QPushButton(QStringLiteral(" Esc 返回"), this);
    m_leaveButton->setObjectName(QStringLiteral("Command11"));
    m_leaveButton->setGeometry(twipsRect(kLeaveLeft, kLeaveTop, kLeaveWidth, kLeaveHeight));
    connect(m_leaveButton, &QPushButton::clicked, this, &ConfigWindow::leaveWindow);

    // Esc leaves as the button does; the focus goes to the button first, so a
    // box the operator typed into is written just as with a click. Over an open
    // drop-down list it does not get here (see eventFilter).
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        m_leaveButton->setFocus(Qt::ShortcutFocusReason);
        m_leaveButton->click();
    });

    // Load: the guard, the combos on their first entries (done as they were
    // built), and the read cycle.
    m_closeGuard = true;
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(kReadInterval);
    connect(m_timer1, &QTimer::timeout, this, &ConfigWindow::readCycle);
    m_timer1->start();
    showTab(0);
    attachConfigHealth(toolHealthMonitor(linkHealth()), this);
}

ConfigWindow::~ConfigWindow()
{
    m_unloading = true;
    if (s_instance == this)
        s_instance = nullptr;
}

void ConfigWindow::buildFrame()
{
    auto *frame = new QGroupBox(QStringLiteral("CONFIG"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setGeometry(twipsRect(kFrameLeft, kFrameTop, kFrameWidth, kFrameHeight));

    auto *tabControl = new QWidget(frame);
    tabControl->setObjectName(QStringLiteral("SSTab2"));
    tabControl->setGeometry(twipsRect(kTabLeft, kTabTop, kTabWidth, kTabHeight));

    m_tabButtons = new QButtonGroup(this);
    m_tabButtons->setExclusive(true);
    const int buttonWidth = kTabWidth / kTabsPerRow;
    const RowRange<TabRow> tabs = ParameterMap::tabs();
    for (int tab = 0; tab < tabs.size(); ++tab) {
        // "2.输出-位式&报警" shows its ampersand: a button would take it for a
        // mnemonic marker and underline the next character instead.
        QString caption = QString::fromUtf8(tabs[tab].caption);
        auto *button =
            new QPushButton(caption.replace(QLatin1Char('&'), QStringLiteral("&&")), tabControl);
        button->setObjectName(controlName("SSTab2Tab", tab));
        button->setCheckable(true);
        button->setGeometry(twipsRect((tab % kTabsPerRow) * buttonWidth,
                                      (tab / kTabsPerRow) * kTabButtonHeight, buttonWidth,
                                      kTabButtonHeight));
        m_tabButtons->addButton(button, tab);
    }
    connect(m_tabButtons, &QButtonGroup::idClicked, this, &ConfigWindow::showTab);

    m_pages = new QStackedWidget(tabControl);
    m_pages->setObjectName(QStringLiteral("SSTab2Pages"));
    m_pages->setFrameShape(QFrame::StyledPanel);
    m_pages->setGeometry(
        twipsRect(0, 2 * kTabButtonHeight, kTabWidth, kTabHeight - 2 * kTabButtonHeight));
    for (int tab = 0; tab < tabs.size(); ++tab)
        m_pages->addWidget(buildPage(tab));
}

QWidget *ConfigWindow::buildPage(int tab)
{
    auto *page = new QWidget;
    page->setObjectName(controlName("SSTab2Page", tab));
    const TabRow &tabRow = ParameterMap::tabs()[tab];
    const int rows = tabRow.lastRegister - tabRow.firstRegister + 1;
    const int pitch = rows > kTabsPerRow ? kRowPitchMany : kRowPitchFew;
    for (int reg = tabRow.firstRegister; reg <= tabRow.lastRegister; ++reg)
        buildRow(page, *ParameterMap::parameterOf(reg),
                 kFirstRowTop + (reg - tabRow.firstRegister) * pitch);
    return page;
}

void ConfigWindow::buildRow(QWidget *page, const ParameterRow &row, int top)
{
    auto *name = new QLabel(QString::fromUtf8(row.name), page);
    name->setObjectName(controlName("Label1", row.row));
    name->setFont(QFont(QStringLiteral("宋体")));
    name->setGeometry(twipsRect(kNameLeft, top, kNameWidth, kRowHeight));

    auto *value = new FittedLabel(page);
    value->setObjectName(controlName("D_4W", row.row));
    value->setFrameShape(QFrame::Box);
    value->setAutoFillBackground(true);
    QPalette valuePalette = value->palette();
    valuePalette.setColor(QPalette::Window, QColor(UiColour::kValueBox));
    value->setPalette(valuePalette);
    value->setGeometry(twipsRect(kValueLeft, top, kValueWidth, kRowHeight));
    m_valueLabels[row.row] = value;

    QWidget *entry = nullptr;
    if (const std::optional<int> combo = ParameterMap::comboNumber(row))
        entry = buildCombo(page, row, *combo);
    else
        entry = buildEntry(page, row);
    entry->setGeometry(twipsRect(kEntryLeft, top, kEntryWidth, kRowHeight));

    auto *hint = new QLabel(QString::fromUtf8(row.hint), page);
    hint->setObjectName(controlName("Label2", row.row));
    hint->setWordWrap(true);
    // The hint's first line stands on the baseline of the name and the value,
    // which are centred in the row. A hint that ends in a line break is two
    // lines to the label, so it cannot be centred itself: it hangs from the top,
    // lowered to that baseline.
    const QRect nameText = name->style()->itemTextRect(name->fontMetrics(), name->contentsRect(),
                                                       int(name->alignment()), true, name->text());
    const int baseline = nameText.top() + name->fontMetrics().ascent();
    hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    hint->setContentsMargins(0, qMax(0, baseline - hint->fontMetrics().ascent()), 0, 0);
    QPalette hintPalette = hint->palette();
    hintPalette.setColor(QPalette::WindowText, kHintText);
    hint->setPalette(hintPalette);
    hint->setGeometry(twipsRect(kHintLeft, top, kHintWidth, kHintHeight));
}

QComboBox *ConfigWindow::buildCombo(QWidget *page, const ParameterRow &row, int comboNumber)
{
    auto *combo = new QComboBox(page);
    combo->setObjectName(QString::fromLatin1(row.control));
    combo->setEditable(true);
    // The operator's text stays text: no entry is added to the list and none is
    // completed behind the operator's back.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    // A wheel turned over the window does not move the focus into a combo
    // (see eventFilter for the wheel itself).
    combo->setFocusPolicy(Qt::StrongFocus);
    for (const OptionRow &option : ParameterMap::options(row.list))
        combo->addItem(QString::fromUtf8(option.entryText));
    fitCombo(combo);
    combo->setEditText(combo->itemText(0));
    m_combos[comboNumber] = combo;
    m_comboShown[comboNumber] = combo->itemText(0);

    connect(combo, qOverload<int>(&QComboBox::activated), this, [this, comboNumber](int index) {
        m_comboChanged[comboNumber] = true;
        m_comboShown[comboNumber] = m_combos[comboNumber]->itemText(index);
    });
    connect(combo->lineEdit(), &QLineEdit::textEdited, this,
            [this, comboNumber] { m_comboChanged[comboNumber] = true; });
    combo->installEventFilter(this);
    combo->view()->installEventFilter(this);
    return combo;
}

QLineEdit *ConfigWindow::buildEntry(QWidget *page, const ParameterRow &row)
{
    auto *entry = new QLineEdit(page);
    entry->setObjectName(controlName("T_3RW", row.row));
    QPalette palette = entry->palette();
    palette.setColor(QPalette::Base, kEntryBackground);
    entry->setPalette(palette);
    m_entries[row.row] = entry;
    const int index = row.row;
    connect(entry, &QLineEdit::textEdited, this, [this, index] { m_entryEdited[index] = true; });
    entry->installEventFilter(this);
    return entry;
}

void ConfigWindow::buildPictures()
{
    // Plain panels stand where the pictures of the instrument go.
    const QColor shades[] = {QColor(200, 210, 230), QColor(210, 230, 210), QColor(230, 220, 200)};
    for (int i = 0; i < 3; ++i) {
        auto *picture = new QLabel(this);
        picture->setObjectName(QStringLiteral("Image%1").arg(i + 1));
        picture->setAutoFillBackground(true);
        QPalette palette = picture->palette();
        palette.setColor(QPalette::Window, shades[i]);
        picture->setPalette(palette);
        picture->setGeometry(twipsRect(kFrameLeft + i * (kPictureWidth + 180), kPictureTop,
                                       kPictureWidth, kPictureHeight));
    }
}

void ConfigWindow::showTab(int tab)
{
    if (QAbstractButton *button = m_tabButtons->button(tab))
        button->setChecked(true);
    m_pages->setCurrentIndex(tab);
}

void ConfigWindow::readCycle()
{
    const bool firstRead =
        Get_4X_DX(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address], 1,
                  ParameterMap::kBlockSize, &m_parameterTable[0]) == 0;
    if (firstRead)
        m_blockRead[0] = true;
    // The operator's leaves and the poller's tick may run here, and so may
    // " Esc 返回", which unloads this window.
    QPointer<ConfigWindow> self(this);
    QCoreApplication::processEvents();
    if (!self || m_unloading)
        return;
    const bool secondRead =
        Get_4X_DX(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address],
                  ParameterMap::kSecondBlockFirst, ParameterMap::kBlockSize,
                  &m_parameterTable[ParameterMap::kSecondBlockFirst - 1]) == 0;
    if (secondRead)
        m_blockRead[1] = true;
    showValues();
    noteReadCycle(this, firstRead && secondRead);
}

void ConfigWindow::showValues()
{
    for (const ParameterRow &row : ParameterMap::parameters())
        if (const std::optional<QString> text =
                ParameterMap::shownText(row, m_parameterTable[row.row]))
            m_valueLabels[row.row]->setWholeText(*text);
}

// A parameter is committed when the focus leaves its control. Watched as the
// focus loss itself rather than QLineEdit::editingFinished, which fires on
// Enter as well (no leave: the focus stays) and which the combos lack.
bool ConfigWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Only the combo in use takes the wheel: the combos never show what the
    // instrument holds, so an entry picked by a wheel turned over another one
    // would go unseen and be written by the next pass of the focus.
    if (event->type() == QEvent::Wheel) {
        const auto *combo = qobject_cast<QComboBox *>(watched);
        if (combo && !combo->hasFocus())
            return true;
    }
    // Esc over an open drop-down list dismisses the list only: the combo keeps
    // what it showed and nothing is written. The list closes itself on Esc but
    // lets the key go on to the window's Esc, which would leave and write.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Cancel)) {
        for (int n = 1; n <= ParameterMap::kComboCount; ++n) {
            if (watched == m_combos[n]->view()) {
                m_combos[n]->hidePopup();
                event->accept();
                return true;
            }
        }
    }
    if (event->type() == QEvent::FocusOut && !m_unloading &&
        isLeave(static_cast<QFocusEvent *>(event))) {
        for (int n = 1; n <= ParameterMap::kComboCount; ++n)
            if (watched == m_combos[n])
                leaveCombo(n);
        for (int i = 0; i < ParameterMap::kRegisterCount; ++i)
            if (watched == m_entries[i])
                leaveEntry(i);
    }
    return QWidget::eventFilter(watched, event);
}

void ConfigWindow::leaveCombo(int comboNumber)
{
    // Only the operator's own pick or typing is written: the combos open on
    // their first entries whatever the instrument holds, and writing those on a
    // mere pass of the focus would reset the baud rate, the parity and every
    // alarm mode.
    if (!m_comboChanged[comboNumber])
        return;
    m_comboChanged[comboNumber] = false;
    QComboBox *combo = m_combos[comboNumber];
    const ParameterRow *row = ParameterMap::comboParameter(comboNumber);
    const std::optional<qint32> code = ParameterMap::comboCode(row->list, combo->currentText());
    if (!code) {
        combo->setEditText(m_comboShown[comboNumber]);
        return;
    }
    m_comboShown[comboNumber] = QString::number(*code);
    combo->setEditText(m_comboShown[comboNumber]);
    CommSettings[CommIndex::StagedWrite] = *code;
    const std::optional<qint32> before = shownValue(*row);
    emit parameterWritten(
        row->reg, *code,
        writeRegister(row->reg, [] { return CommSettings[CommIndex::StagedWrite]; }), before);
}

void ConfigWindow::leaveEntry(int index)
{
    // Only text the operator edited since this box's last write, and only when it
    // holds a number: an emptied box or a stray "-" would otherwise write 0.
    if (!m_entryEdited[index])
        return;
    m_entryEdited[index] = false;
    const QString text = m_entries[index]->text();
    if (!leadingNumberIfAny(text))
        return;
    const ParameterRow *row = ParameterMap::parameterOf(index + 1);
    const std::optional<qint32> value = ParameterMap::entryValue(row->kind, text);
    if (!value)
        return;
    const std::optional<qint32> before = shownValue(*row);
    emit parameterWritten(row->reg, *value, writeRegister(row->reg, [&value] { return *value; }),
                          before);
}

// What the value label of a row shows from the last read-back, if there was one.
std::optional<qint32> ConfigWindow::shownValue(const ParameterRow &row) const
{
    if (!m_blockRead[row.reg < ParameterMap::kSecondBlockFirst ? 0 : 1])
        return std::nullopt;
    return m_parameterTable[row.row];
}

void ConfigWindow::leaveWindow()
{
    if (m_unloading)
        return;
    m_closeGuard = false;
    m_unloading = true;
    m_timer1->stop();
    if (s_instance == this)
        s_instance = nullptr;
    hide();
    emit returned();
    deleteLater();
}

void ConfigWindow::closeEvent(QCloseEvent *event)
{
    if (m_closeGuard)
        event->ignore();
    else
        event->accept();
}

ConfigWindow *CONFIG1()
{
    if (!s_instance)
        s_instance = new ConfigWindow;
    return s_instance;
}
