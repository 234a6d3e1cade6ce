// Message boxes on a real X server: the caption the server holds for the box's window is the
// one the program gave, an empty one included (Qt would otherwise name the window after the
// program).
#include <QMessageBox>

#include "ui/qt_prompts.h"
#include "x_server_harness.h"

namespace kvx::test {
namespace {

// The window's name as the server has it: what a window manager puts in the title bar.
QString serverWindowName(WId id) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), QString::number(id)});
    if (!p.waitForFinished(5000) || p.exitCode() != 0) return QStringLiteral("(xdotool failed)");
    QString name = QString::fromUtf8(p.readAllStandardOutput());
    if (name.endsWith('\n')) name.chop(1);
    return name;
}

// The _NET_WM_NAME property (the name window managers read first) as xprop prints it:
// _NET_WM_NAME(UTF8_STRING) = "Notice", or nothing after the '=' when it is empty.
QString serverNetWmName(WId id) {
    QProcess p;
    p.start(QStringLiteral("xprop"),
            {QStringLiteral("-id"), QString::number(id), QStringLiteral("_NET_WM_NAME")});
    if (!p.waitForFinished(5000) || p.exitCode() != 0) return QStringLiteral("(xprop failed)");
    const QString line = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    const QString head = QStringLiteral("_NET_WM_NAME(UTF8_STRING) =");
    if (!line.startsWith(head)) return QStringLiteral("(no name: ") + line + ")";
    QString value = line.mid(head.size()).trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return value;
}

TEST(XServerPrompts, TheServerShowsEachBoxCaptionAsGivenAnEmptyOneEmpty) {
    QWidget mainWindow;
    mainWindow.resize(400, 300);
    mainWindow.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&mainWindow));
    QtPrompts prompts;
    prompts.setMainWindow(&mainWindow);
    const bool haveXprop = !findProgram("xprop").empty();
    const struct {
        const char* title;
        bool owned;
    } cases[] = {{"", false}, {"", true}, {"Notice", true}, {"Communication Timeout", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.title + "\"" + (c.owned ? " owned" : ""));
        QString name = QStringLiteral("(no box)"), netName;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !QTest::qWaitForWindowExposed(box, 2000)) return;
            watch.stop();
            name = serverWindowName(box->winId());
            if (haveXprop) netName = serverNetWmName(box->winId());
            box->accept();
        });
        watch.start(10);
        prompts.messageBox("Dravo Viewer is not connected to the system.", c.title, BoxIcon::None,
                           BoxButtons::Ok, c.owned);
        EXPECT_EQ(name.toStdString(), c.title);
        if (haveXprop) {
            EXPECT_EQ(netName.toStdString(), c.title);
        }
    }
}

}  // namespace
}  // namespace kvx::test
