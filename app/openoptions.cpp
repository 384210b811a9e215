#include "openoptions.h"

#include "alarmannunciator.h"
#include "controlname.h"
#include "overviewwindow.h"
#include "recordoptions.h"
#include "webview.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCommandLineParser>

namespace
{

// The overview's module address list ("模块地址") holds 1 to 16.
constexpr int kLargestListedAddress = 16;

OpenOptions refused(const QString &reason)
{
    OpenOptions options;
    options.error = reason;
    return options;
}

bool named(const QStringList &arguments, const QString &option)
{
    for (const QString &argument : arguments)
        if (argument == option || argument.startsWith(option + u'='))
            return true;
    return false;
}

} // namespace

bool wantsOpenOptions(const QStringList &arguments)
{
    QStringList options{QStringLiteral("--open"), QStringLiteral("--mute")};
    for (const QCommandLineOption &choice : linkChoiceOptions())
        options << QStringLiteral("--") + choice.names().constFirst();
    for (const QString &option : options)
        if (named(arguments, option))
            return true;
    return false;
}

OpenOptions parseOpenOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption open(QStringLiteral("open"),
                                  QStringLiteral("Press \"打开\" with these choices at start."));
    const QCommandLineOption mute(QStringLiteral("mute"),
                                  QStringLiteral("No bell for unacknowledged alarms."));
    parser.addOptions(QList<QCommandLineOption>{open, mute, webOption()} + linkChoiceOptions());
    if (!parser.parse(arguments))
        return refused(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refused(QStringLiteral("unexpected argument: ") +
                       parser.positionalArguments().first());
    if (!parser.isSet(open)) {
        for (const QCommandLineOption &choice : linkChoiceOptions())
            if (parser.isSet(choice))
                return refused(
                    QStringLiteral("--%1 needs --open").arg(choice.names().constFirst()));
    }
    const RecordOptions link = readLinkChoices(parser);
    if (!link.isValid())
        return refused(link.error);
    if (link.addresses.size() != 1 || link.addresses.front() > kLargestListedAddress)
        return refused(QStringLiteral("--address must be one number from 1 to 16, not \"%1\"")
                           .arg(parser.value(QStringLiteral("address"))));
    OpenOptions options;
    options.open = parser.isSet(open);
    options.port = link.port;
    options.address = link.addresses.front();
    options.baudCode = link.baudCode;
    options.parityCode = link.parityCode;
    options.muted = parser.isSet(mute);
    return options;
}

void applyOpenOptions(const OpenOptions &options)
{
    if (options.muted)
        alarmAnnunciator()->setMuted(true);
    if (!options.open)
        return;
    OverviewWindow *overview = ssqx();
    // The lists and buttons as the operator would set them, then the click.
    if (auto *port = overview->findChild<QComboBox *>(QStringLiteral("Combo1")))
        port->setCurrentIndex(options.port - 1);
    if (auto *address = overview->findChild<QComboBox *>(QStringLiteral("Combo2")))
        address->setCurrentIndex(options.address - 1);
    if (auto *baud =
            overview->findChild<QAbstractButton *>(controlName("Option1", options.baudCode)))
        baud->setChecked(true);
    if (auto *parity =
            overview->findChild<QAbstractButton *>(controlName("Option2", options.parityCode)))
        parity->setChecked(true);
    if (auto *openButton = overview->findChild<QAbstractButton *>(QStringLiteral("Command9")))
        openButton->click();
}
