#include "unitdialog.h"

#include "clock.h"
#include "controlname.h"
#include "fittedtext.h"
#include "recorder.h"
#include "scalingwatch.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
constexpr int kWidth = 420;
} // namespace

bool namesItsUnit(const std::optional<ChannelScaling> &known)
{
    return known && known->inputType >= 0 && known->inputType <= kInputTypeHighest &&
           inputFamily(known->inputType) == InputFamily::Linear;
}

UnitNames checkUnitNames(const std::array<QString, kScaledChannels> &typed,
                         const KnownScaling &known, const OperatorUnits &before)
{
    UnitNames names;
    names.units = before;
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        if (!namesItsUnit(known[ch]))
            continue;
        const UnitTextCheck check = checkUnitText(typed[ch]);
        if (!check.accepted) {
            names.message = QStringLiteral("CH%1: %2").arg(ch + 1).arg(check.message);
            names.units = before;
            names.changed.clear();
            return names;
        }
        if (check.unit != before[ch]) {
            names.units[ch] = check.unit;
            names.changed.append(ch);
        }
    }
    names.accepted = true;
    return names;
}

UnitDialog::UnitDialog(Recorder *recorder, ScalingWatch *watch, QWidget *parent)
    : QWidget(parent, Qt::Window), m_recorder(recorder), m_watch(watch)
{
    setObjectName(QStringLiteral("UnitDialog"));
    setWindowTitle(QStringLiteral("单位名称"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(kWidth, sizeHint().height());
    auto *column = new QVBoxLayout(this);
    column->addWidget(
        new QLabel(QStringLiteral("线性输入 (输入类型 17～31) 的单位由操作员命名，最多 %1 个字符。")
                       .arg(kUnitTextLongest),
                   this));
    auto *grid = new QGridLayout;
    column->addLayout(grid);
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        grid->addWidget(
            new QLabel(QStringLiteral("CH%1 %2").arg(ch + 1).arg(channelName(ch)), this), ch, 0);
        m_edits[ch] = new QLineEdit(this);
        m_edits[ch]->setObjectName(controlName("unitEdit", ch));
        m_edits[ch]->setEnabled(false); // until fill() finds the channel linear
        grid->addWidget(m_edits[ch], ch, 1);
        connect(m_edits[ch], &QLineEdit::returnPressed, this, &UnitDialog::apply);
    }
    m_message = new FittedLabel(this);
    m_message->setObjectName(QStringLiteral("unitMessage"));
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_message->setStyleSheet(QStringLiteral("color: #c00000"));
    column->addWidget(m_message);
    auto *buttons = new QHBoxLayout;
    column->addLayout(buttons);
    buttons->addStretch();
    auto *ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("unitApply"));
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("unitCancel"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    connect(ok, &QPushButton::clicked, this, &UnitDialog::apply);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    // A scaling read while the dialog is open may make a channel linear or not.
    connect(m_watch, &ScalingWatch::scalingChanged, this, &UnitDialog::fill);
    fill();
}

void UnitDialog::fill()
{
    const KnownScaling &known = m_watch->known();
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        QLineEdit *edit = m_edits[ch];
        const bool named = namesItsUnit(known[ch]);
        // What the operator is typing stays; a field that becomes editable shows the name kept.
        if (named && !edit->isEnabled())
            edit->setText(m_watch->operatorUnits()[ch]);
        else if (!named)
            edit->setText(known[ch] ? known[ch]->unit : QString());
        edit->setEnabled(named);
        edit->setPlaceholderText(named       ? QStringLiteral("单位未命名")
                                 : known[ch] ? QString()
                                             : QStringLiteral("未读到标度"));
    }
}

bool UnitDialog::apply()
{
    std::array<QString, kScaledChannels> typed;
    for (int ch = 0; ch < kScaledChannels; ++ch)
        typed[ch] = m_edits[ch]->text();
    const UnitNames names = checkUnitNames(typed, m_watch->known(), m_watch->operatorUnits());
    if (!names.accepted) {
        m_message->setWholeText(names.message);
        return false;
    }
    const QDateTime now = SystemClock::now();
    for (const int ch : names.changed)
        m_recorder->noteOperatorUnit(ch, names.units[ch], now);
    m_watch->setOperatorUnits(names.units);
    close();
    return true;
}

void UnitDialog::keyPressEvent(QKeyEvent *event)
{
    // Esc closes it as it would a dialog; nothing typed is kept.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void openUnitDialog(QWidget *parent)
{
    static QPointer<UnitDialog> dialog;
    if (!dialog)
        dialog = new UnitDialog(mscom(), toolScalingWatch(), parent ? parent->window() : nullptr);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
