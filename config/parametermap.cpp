#include "parametermap.h"

#include "numbers.h"

#include <cmath>

namespace
{

// Option lists: code, entry text offered by the combo, text shown after a read.
const OptionRow kAlarmMode[] = {
    {0, "0:无 ", "无"},
    {1, "1:上限报警 ", "上限报警"},
    {2, "2:下限报警 ", "下限报警"},
    {3, "3:上偏差报警 ", "上偏差报警"},
    {4, "4:下偏差报警 ", "下偏差报警"},
    {5, "5:偏差带报警 ", "偏差带报警"},
};
const OptionRow kBaudRate[] = {
    {0, "0:4800BPS ", "4800BPS"},
    {1, "1:9600BPS ", "9600BPS"},
    {2, "2:19200BPS ", "19200BPS"},
};
const OptionRow kParity[] = {
    {0, "0:无校验 ", "无校验"},
    {1, "1:奇校验 ", "奇校验"},
    {2, "2:偶校验 ", "偶校验"},
};
const OptionRow kRetransmissionChannel[] = {
    {1, "1:CH1 变送 ", "通道一变送"},
    {2, "2:CH2 变送 ", "通道二变送"},
    {3, "3:CH3 变送 ", "通道三变送"},
    {4, "4:CH4 变送 ", "通道4变送"},
};
const OptionRow kRetransmissionRange[] = {
    {0, "0:4MA20 ", "4MA20"},
    {1, "1:0MA10 ", "0MA10"},
    {2, "2:0MA20 ", "0MA20"},
};
const OptionRow kInputType[] = {
    {0, "0:K(-200-1300)", "K(-200~1300)"},
    {1, "1:S(0-1700) ", "S(0~1700)"},
    {2, "2:R(0-1700) ", "R(0~1700)"},
    {3, "3:T(-200-400) ", "T(-200~400)"},
    {4, "4:E(0-1000) ", "E(0~1000)"},
    {5, "5:J(0-1200) ", "J(0~1200)"},
    {6, "6:B(400-1800) ", "B(400~1800)"},
    {7, "7:N(0-1300) ", "N(0~1300)"},
    {8, "8 WRe325(0-2300)", "WRe325(0~2300)"},
    {9, "9:WRe526(0-2300) ", "WRe526(0~2300)"},
    {10, "10:Cu50(-50-150)", "Cu50(-50-150)"},
    {11, "11:PT100(-200-850) ", "PT100(-200-850)"},
    {12, "12:PT500(-200-850) ", "PT500(-200-850)"},
    {13, "13:PT1000(-200-850) ", "PT1000(-200-850)   "},
    {14, "14:0Ω80(0～80Ω) ", " 0Ω80(0～80Ω) "},
    {15, "15:0Ω400(0～400Ω) ", " 0Ω400(0～400Ω)"},
    {16, "16:0Ω4000(0～4000Ω) ", " 0Ω5000(0～5000Ω)"},
    {17, "17:0MA10(0～10MA) ", " 0MA10(0～10MA)"},
    {18, "18:0MA20(0～20MA) ", " 0MA20(0～20MA)"},
    {19, "19:4MA20(4-20MA) ", " 4MA20(4-20MA)"},
    {20, "20:0MV20(0-20MV) ", " 0MV20(0-20MV)"},
    {21, "21:0MV100(0-100MV)", " 0MV100(0-100MV)"},
    {22, "22:正负20MV(-20-+20MV) ", " 正负20MV(-20-+20MV)"},
    {23, "23:正负100MV(-100-+100MV)", " 正负100MV(-100-+100MV)"},
    {24, "24:0V1(0-1V) ", "  0V1(0-1V)"},
    {25, "25:0V2(0-2V) ", " 0V2(0-2V)"},
    {26, "26:0V5(0-5V) ", " 0V5(0-5V)"},
    {27, "27:1V5(1-5V) ", " 1V5(1-5V)"},
    {28, "28:0V10(0-+10V) ", " 0V10(0-+10V)"},
    {29, "29:2V10(2-+10V) ", " 2V10(2-+10V)"},
    {30, "30:正负5V(-5-+5V) ", " 正负5V(-5-+5V)"},
    {31, "31:正负10V(-10-+10V) ", " 正负10V(-10-+10V)"},
};
const OptionRow kDecimalPoint[] = {
    {0, "0:XXXXX ", "XXXXX"},   {1, "1:XXXX.X ", "XXXX.X"}, {2, "2:XXX.XX ", "XXX.XX"},
    {3, "3:XX.XXX ", "XX.XXX"}, {4, "4:X.XXXX ", "X.XXXX"},
};
const OptionRow kTemperatureUnit[] = {
    {0, "0:摄氏度 ", "摄氏度"},
    {1, "1:华氏度 ", "华氏度"},
    {2, "2:绝对温度 ", "绝对温度"},
};
const OptionRow kRelayFunction[] = {
    {0, "0:报警模式 ", "报警模式"},
    {1, "1:位式控制 ", "位式控制"},
};
const OptionRow kOpenInputRelayHandling[] = {
    {0, "0:转预置 ", "继电器转预置"},
    {1, "1:保持 ", "继电器维持"},
};
const OptionRow kOpenInputRelayPreset[] = {
    {0, "0:断开 ", "断开"},
    {1, "1:闭合 ", "闭合"},
};
const OptionRow kOpenInputRetransmissionHandling[] = {
    {0, "0:转预置值 ", "变送转预置"},
    {1, "1:保持 ", "维持"},
};

// The pages of the tab control in the order of their buttons.
const TabRow kTabs[] = {
    {"1.Instrument ", 45, 48}, {"2.输出-位式&报警", 49, 53}, {"3.变送设置", 21, 24},
    {"4.通道一设置", 25, 29},  {"5.通道二设置", 30, 34},     {"6.通道三设置", 35, 39},
    {"7.通道四设置", 40, 44},  {"8.通讯设定", 17, 20},       {"9.继电器功能", 9, 16},
    {"10.报警设置", 1, 8},
};

// One row per configuration register, in register order.
const ParameterRow kParameters[] = {
    {1, 0, 9, "CH1设定值SV", "-10000 ~ 30000", "T_3RW(0)", ValueKind::Integer, OptionList::None},
    {2, 1, 9, "CH1报警值", "-10000 ~ 30000", "T_3RW(1)", ValueKind::Integer, OptionList::None},
    {3, 2, 9, "CH2设定值SV", "-10000 ~ 30000", "T_3RW(2)", ValueKind::Integer, OptionList::None},
    {4, 3, 9, "CH2报警值", "-10000 ~ 30000", "T_3RW(3)", ValueKind::Integer, OptionList::None},
    {5, 4, 9, "CH3设定值SV", "-10000 ~ 30000", "T_3RW(4)", ValueKind::Integer, OptionList::None},
    {6, 5, 9, "CH3报警值", "-10000 ~ 30000", "T_3RW(5)", ValueKind::Integer, OptionList::None},
    {7, 6, 9, "CH4设定值SV", "-10000 ~ 30000", "T_3RW(6)", ValueKind::Integer, OptionList::None},
    {8, 7, 9, "CH4报警值", "-10000 ~ 30000", "T_3RW(7)", ValueKind::Integer, OptionList::None},
    {9, 8, 8, "CH1报警方式", "0～5：0-无，1-上限，2-下限，3-上偏差，4-下偏差，5-偏差带\r\n",
     "Combo1", ValueKind::Coded, OptionList::AlarmMode},
    {10, 9, 8, "CH1 报警延迟", "0 ~ 60 S", "T_3RW(9)", ValueKind::Integer, OptionList::None},
    {11, 10, 8, "CH2报警方式", "0～5：0-无，1-上限，2-下限，3-上偏差，4-下偏差，5-偏差带\r\n",
     "Combo2", ValueKind::Coded, OptionList::AlarmMode},
    {12, 11, 8, "CH2 报警延迟", "0 ~ 60 S", "T_3RW(11)", ValueKind::Integer, OptionList::None},
    {13, 12, 8, "CH3报警方式", "0～5：0-无，1-上限，2-下限，3-上偏差，4-下偏差，5-偏差带\r\n",
     "Combo3", ValueKind::Coded, OptionList::AlarmMode},
    {14, 13, 8, "CH3 报警延迟", "0 ~ 60 S", "T_3RW(13)", ValueKind::Integer, OptionList::None},
    {15, 14, 8, "CH4报警方式", "0～5：0-无，1-上限，2-下限，3-上偏差，4-下偏差，5-偏差带\r\n",
     "Combo4", ValueKind::Coded, OptionList::AlarmMode},
    {16, 15, 8, "CH4 报警延迟", "0 ~ 60 S", "T_3RW(15)", ValueKind::Integer, OptionList::None},
    {17, 16, 7, "通讯地址", "1 ~ 247", "T_3RW(16)", ValueKind::Integer, OptionList::None},
    {18, 17, 7, "波特率", "0～2：--0: 4800bps。1: 9600bps。2: 19200bps\r\n", "Combo5",
     ValueKind::Coded, OptionList::BaudRate},
    {19, 18, 7, "校验方式", "0～2：--0：无校验，1:奇校验，2:偶校验\r\n", "Combo6", ValueKind::Coded,
     OptionList::Parity},
    {20, 19, 7, "通讯延迟", "0 ~ 60 MS", "T_3RW(19)", ValueKind::Integer, OptionList::None},
    {21, 20, 2, "变送通道选择", "1～4，4选1通道测量值变送\r\n", "Combo7", ValueKind::Coded,
     OptionList::RetransmissionChannel},
    {22, 21, 2, "变送输出量程", "0～2：0(4-20mA)，1(0-10mA)，2(0-20mA)\r\n", "Combo8",
     ValueKind::Coded, OptionList::RetransmissionRange},
    {23, 22, 2, "变送上限", "-10000 ~ 30000", "T_3RW(22)", ValueKind::Integer, OptionList::None},
    {24, 23, 2, "变送下限", "-10000 ~ 30000", "T_3RW(23)", ValueKind::Integer, OptionList::None},
    {25, 24, 3, "CH1 输入类型", "0～31", "Combo9", ValueKind::Coded, OptionList::InputType},
    {26, 25, 3, "CH1 小数点", "0～4：0<10000>，1<1000.0>，2<100.00>，3<10.000>，4<1.0000>\r\n",
     "Combo10", ValueKind::Coded, OptionList::DecimalPoint},
    {27, 26, 3, "输入上限", "-10000 ~ 30000", "T_3RW(26)", ValueKind::Integer, OptionList::None},
    {28, 27, 3, "输入下限", "-10000 ~ 30000", "T_3RW(27)", ValueKind::Integer, OptionList::None},
    {29, 28, 3, "平移修正", "-500 ~ 500", "T_3RW(28)", ValueKind::Integer, OptionList::None},
    {30, 29, 4, "CH2 输入类型", "0～31", "Combo12", ValueKind::Coded, OptionList::InputType},
    {31, 30, 4, "CH2 小数点", "0～4：0<10000>，1<1000.0>，2<100.00>，3<10.000>，4<1.0000>\r\n",
     "Combo11", ValueKind::Coded, OptionList::DecimalPoint},
    {32, 31, 4, "输入上限", "-10000 ~ 30000", "T_3RW(31)", ValueKind::Integer, OptionList::None},
    {33, 32, 4, "输入下限", "-10000 ~ 30000", "T_3RW(32)", ValueKind::Integer, OptionList::None},
    {34, 33, 4, "平移修正", "-500 ~ 500", "T_3RW(33)", ValueKind::Integer, OptionList::None},
    {35, 34, 5, "CH3 输入类型", "0～31", "Combo14", ValueKind::Coded, OptionList::InputType},
    {36, 35, 5, "CH3 小数点", "0～4：0<10000>，1<1000.0>，2<100.00>，3<10.000>，4<1.0000>\r\n",
     "Combo13", ValueKind::Coded, OptionList::DecimalPoint},
    {37, 36, 5, "输入上限", "-10000 ~ 30000", "T_3RW(36)", ValueKind::Integer, OptionList::None},
    {38, 37, 5, "输入下限", "-10000 ~ 30000", "T_3RW(37)", ValueKind::Integer, OptionList::None},
    {39, 38, 5, "平移修正", "-500 ~ 500", "T_3RW(38)", ValueKind::Integer, OptionList::None},
    {40, 39, 6, "CH4 输入类型", "0～31", "Combo16", ValueKind::Coded, OptionList::InputType},
    {41, 40, 6, "CH4 小数点", "0～4：0<10000>，1<1000.0>，2<100.00>，3<10.000>，4<1.0000>\r\n",
     "Combo15", ValueKind::Coded, OptionList::DecimalPoint},
    {42, 41, 6, "输入上限", "-10000 ~ 30000", "T_3RW(41)", ValueKind::Integer, OptionList::None},
    {43, 42, 6, "输入下限", "-10000 ~ 30000", "T_3RW(42)", ValueKind::Integer, OptionList::None},
    {44, 43, 6, "平移修正", "-500 ~ 500", "T_3RW(43)", ValueKind::Integer, OptionList::None},
    {45, 44, 0, "CONFIG 密码", "0000-9999", "T_3RW(44)", ValueKind::Integer, OptionList::None},
    {46, 45, 0, "屏幕点亮时间", "0～60min，0--常亮，1～60--定时关闭显示\r\n", "T_3RW(45)",
     ValueKind::Integer, OptionList::None},
    {47, 46, 0, "输入数字滤波", "0～10 S", "T_3RW(46)", ValueKind::Tenths, OptionList::None},
    {48, 47, 0, "温度单位", "0～2，0-摄氏度C，1-华氏度F，2-绝对温标K\r\n", "Combo17",
     ValueKind::Coded, OptionList::TemperatureUnit},
    {49, 48, 1, "继电器功能切换", "0～1：0-报警方式，1-位式控制\r\n", "Combo18", ValueKind::Coded,
     OptionList::RelayFunction},
    {50, 49, 1, "输入开路继电器状态", "0～1：0-转预置状态，1-保持不变", "Combo19", ValueKind::Coded,
     OptionList::OpenInputRelayHandling},
    {51, 50, 1, "输入开路RELAY预置值", "0～1：0-断开，1-闭合", "Combo20", ValueKind::Coded,
     OptionList::OpenInputRelayPreset},
    {52, 51, 1, "输入开路变送处理", "0～1：0-转预置值，1-保持不变", "Combo21", ValueKind::Coded,
     OptionList::OpenInputRetransmissionHandling},
    {53, 52, 1, "输入开路变送预置值", "0.0-100.0%", "T_3RW(52)", ValueKind::Tenths,
     OptionList::None},
};

template <typename Row, int N> RowRange<Row> rangeOf(const Row (&rows)[N])
{
    return RowRange<Row>{rows, N};
}

} // namespace

namespace ParameterMap
{

RowRange<ParameterRow> parameters()
{
    return rangeOf(kParameters);
}

const ParameterRow *parameterOf(int reg)
{
    if (reg < 1 || reg > kRegisterCount)
        return nullptr;
    return &kParameters[reg - 1];
}

RowRange<TabRow> tabs()
{
    return rangeOf(kTabs);
}

RowRange<OptionRow> options(OptionList list)
{
    switch (list) {
    case OptionList::None:
        break;
    case OptionList::AlarmMode:
        return rangeOf(kAlarmMode);
    case OptionList::BaudRate:
        return rangeOf(kBaudRate);
    case OptionList::Parity:
        return rangeOf(kParity);
    case OptionList::RetransmissionChannel:
        return rangeOf(kRetransmissionChannel);
    case OptionList::RetransmissionRange:
        return rangeOf(kRetransmissionRange);
    case OptionList::InputType:
        return rangeOf(kInputType);
    case OptionList::DecimalPoint:
        return rangeOf(kDecimalPoint);
    case OptionList::TemperatureUnit:
        return rangeOf(kTemperatureUnit);
    case OptionList::RelayFunction:
        return rangeOf(kRelayFunction);
    case OptionList::OpenInputRelayHandling:
        return rangeOf(kOpenInputRelayHandling);
    case OptionList::OpenInputRelayPreset:
        return rangeOf(kOpenInputRelayPreset);
    case OptionList::OpenInputRetransmissionHandling:
        return rangeOf(kOpenInputRetransmissionHandling);
    }
    return {};
}

std::optional<int> comboNumber(const ParameterRow &row)
{
    const QString control = QString::fromLatin1(row.control);
    const QString prefix = QStringLiteral("Combo");
    if (!control.startsWith(prefix))
        return std::nullopt;
    bool ok = false;
    const int n = control.mid(prefix.size()).toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

const ParameterRow *comboParameter(int number)
{
    for (const ParameterRow &row : parameters())
        if (comboNumber(row) == number)
            return &row;
    return nullptr;
}

std::optional<QString> shownText(const ParameterRow &row, qint32 value)
{
    switch (row.kind) {
    case ValueKind::Integer:
        return QString::number(value);
    case ValueKind::Tenths:
        return doubleText(value / 10.0);
    case ValueKind::Coded:
        for (const OptionRow &option : options(row.list))
            if (option.code == value)
                return QString::fromUtf8(option.readBackText);
        break;
    }
    return std::nullopt;
}

std::optional<qint32> entryValue(ValueKind kind, const QString &text)
{
    // The entry is held in single precision first, and only then scaled in
    // double: 0.35 becomes 0.3499999940..., so tenths of it round to 3, not 4.
    const double x = static_cast<float>(leadingNumber(text));
    if (!std::isfinite(x))
        return std::nullopt;
    return toInt32(kind == ValueKind::Tenths ? x * 10.0 : x);
}

std::optional<qint32> comboCode(OptionList list, const QString &editText)
{
    const RowRange<OptionRow> entries = options(list);
    for (const OptionRow &option : entries)
        if (editText == QString::fromUtf8(option.entryText))
            return option.code;
    const std::optional<double> number = leadingNumberIfAny(editText);
    if (!number)
        return std::nullopt;
    for (const OptionRow &option : entries)
        if (*number == option.code)
            return option.code;
    return std::nullopt;
}

} // namespace ParameterMap
