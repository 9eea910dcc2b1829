#include "ui/shell/EditorMain.h"

#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "app/AppRegistry.h"
#include "app/CommandLine.h"
#include "ui/shell/CMainFrame.h"
#include "ui/shell/CPanZoomDoc.h"

namespace pm::ui {

namespace {

int g_quitPipe[2] = {-1, -1};

void askToQuit(int /*signal*/) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_quitPipe[1], &byte, 1);
}

// A termination request (the session ending, `kill`) closes the window as the user would, so
// the layout is kept and unsaved changes are asked about; the signal handler only wakes the
// event loop.
void closeOnTermination(CMainFrame& frame) {
    if (::pipe(g_quitPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_quitPipe[0], QSocketNotifier::Read, &frame);
    QObject::connect(notifier, &QSocketNotifier::activated, &frame, [&frame] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(g_quitPipe[0], &byte, 1);
        frame.close();
    });
    struct sigaction action {};
    action.sa_handler = askToQuit;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int runEditor(int argc, char** argv) {
    // Without a display Qt would abort with its own message; say it in the program's words.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs(
            "pictomove: the editor needs a display (none is set); the commands work "
            "without one: pictomove --help\n",
            stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pictomove");
    QApplication::setOrganizationName("Korvane");
    const CommandLine commandLine = CommandLine::parse(argc, argv);

    AppRegistry registry;
    CPanZoomDoc document;
    CMainFrame frame(document, registry);
    // The window opens filling the screen; without a window manager to maximize it, by size.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        frame.setGeometry(screen->availableGeometry());
    }
    frame.showMaximized();
    frame.startLayouts();
    closeOnTermination(frame);
    if (!commandLine.fileName.empty()) {
        // After the window shows, so that a failure is reported over it.
        const QString path = QString::fromLocal8Bit(commandLine.fileName.c_str());
        QTimer::singleShot(0, &frame, [&frame, path] { frame.openProject(path); });
    }
    return QApplication::exec();
}

}  // namespace pm::ui
