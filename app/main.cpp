#include "clock.h"
#include "commandline.h"
#include "openoptions.h"
#include "recordingfile.h"
#include "recordmode.h"
#include "splash.h"
#include "webview.h"

#include <QApplication>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstdlib>

namespace
{

// Qt ends the process (abort, status 134) when the display it was given
// cannot be reached. While the application starts, its platform's complaint
// is kept and said on one line with exit code 1 instead.
QtMessageHandler g_qtHandler = nullptr;
QString g_platformComplaint;

void onStartMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool platform = QByteArray(context.category ? context.category : "").startsWith("qt.qpa");
    if (type == QtFatalMsg) {
        const QString reason =
            g_platformComplaint.isEmpty() ? message.section(u'\n', 0, 0) : g_platformComplaint;
        std::fprintf(stderr, "zelmar: the display cannot be opened: %s\n",
                     reason.toLocal8Bit().constData());
        std::_Exit(1);
    }
    if (platform) {
        // The first complaint says what failed ("could not connect to display :1").
        if (g_platformComplaint.isEmpty())
            g_platformComplaint = message;
        return;
    }
    if (g_qtHandler)
        g_qtHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    SystemClock::readZoneFileOnce();
    const Invocation invocation = readInvocation(QStringList(argv, argv + argc));
    switch (invocation.mode) {
    case ToolMode::Windows:
        break;
    case ToolMode::Record:
        // Without a display: no QApplication, no window.
        return runRecordMode(argc, argv);
    case ToolMode::ExportCsv:
    case ToolMode::Help:
    case ToolMode::Version:
    case ToolMode::Usage:
        return runCommandLine(argc, argv, invocation);
    }
    // The operator's recordings are the operator's own: a database, its
    // folder, -wal and -shm that the windowed tool makes are not readable by others.
    setNewRecordingFileAccess(NewFileAccess::OwnerOnly);
    // An address the web view may not serve ends the tool before any window.
    const QString web = webOptionValue(QStringList(argv, argv + argc));
    if (!web.isEmpty()) {
        QString error;
        webSettings(web, QProcessEnvironment::systemEnvironment(), {1}, {}, error);
        if (!error.isEmpty())
            return refuseToStart(error);
    }
    const QString noDisplay = noDisplayReason(QProcessEnvironment::systemEnvironment());
    if (!noDisplay.isEmpty())
        return refuseToStart(noDisplay);
    g_qtHandler = qInstallMessageHandler(onStartMessage);
    // --open and --mute were checked with the rest of the command line, before any window.
    const OpenOptions open = parseOpenOptions(QStringList(argv, argv + argc));
    QApplication app(argc, argv);
    qInstallMessageHandler(g_qtHandler);
    nameTool();
    startTool([open, web] {
        applyOpenOptions(open);
        startWindowedWebView(web);
    });
    return app.exec();
}
