// kvx-render-settings: draws every settings screen, filled from a simulated controller, into
// PNG files for a person to look at.
#include <sys/stat.h>

#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/alarm_dialogs.h"
#include "settings/calibration_dialog.h"
#include "settings/event_log_dialog.h"
#include "settings/flow_control_dialog.h"
#include "settings/password_dialog.h"
#include "settings/register_screen_dialog.h"
#include "settings/upload_dialog.h"
#include "sim/controller_engine.h"
#include "ui/prompts.h"

namespace {

using namespace kvx;

// The simulated controller's registers behind the device-link interface, without a line.
class EngineLink : public DeviceLink {
  public:
    int openConnection(const std::string&) override { return 0; }
    void closeConnection() override {}
    bool isConnected() const override { return true; }
    int setReplyTimeout(int) override { return 0; }
    int getReplyTimeout() const override { return 3000; }
    int readHoldingRegisters(int, int ref, std::int16_t* v, int n) override {
        return engine.readHolding(ref, n, v, 0);
    }
    int readInputRegisters(int, int ref, std::int16_t* v, int n) override {
        return engine.readInput(ref, n, v, 0);
    }
    int writeSingleRegister(int, int ref, std::int16_t v) override {
        return engine.writeHolding(ref, &v, 1, 0);
    }
    int writeMultipleRegisters(int, int ref, const std::int16_t* v, int n) override {
        return engine.writeHolding(ref, v, n, 0);
    }
    sim::ControllerEngine engine;
};

class NoPrompts : public Prompts {
  public:
    int messageBox(const std::string&, const std::string&, BoxIcon, BoxButtons, bool) override {
        return kAnswerOk;
    }
    std::string openFileName(const FileDialogRequest&) override { return {}; }
    std::string saveFileName(const FileDialogRequest&) override { return {}; }
};

int written = 0, failed = 0;

void save(QDialog& d, const std::string& dir, const std::string& name) {
    d.adjustSize();
    d.show();
    QApplication::processEvents();
    const std::string path = dir + "/" + name + ".png";
    if (d.grab().save(QString::fromStdString(path))) {
        ++written;
        std::printf("%s (%dx%d, title \"%s\")\n", path.c_str(), d.width(), d.height(),
                    d.windowTitle().toUtf8().constData());
    } else {
        ++failed;
        std::fprintf(stderr, "kvx-render-settings: cannot write %s\n", path.c_str());
    }
    d.hide();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf(
            "usage: kvx-render-settings [DIR]\n"
            "Draws every settings screen into DIR (default .) as PNG files.\n");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kvx-render-settings 0.1\n");
        return 0;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "kvx-render-settings: bad option; see --help\n");
        return 2;
    }
    const std::string dir = argc == 2 ? argv[1] : ".";
    ::mkdir(dir.c_str(), 0755);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    EngineLink link;
    BlockStore blocks;
    const SettingsContext ctx{link, blocks, 1};
    for (const ScreenTable* table : registerScreens()) {
        RegisterScreen screen(*table, ctx);
        screen.readBlocks();
        RegisterScreenDialog d(screen, {});
        save(d, dir, "screen_" + std::to_string(table->dialogId));
    }
    {
        // Horsepower headings and a status line after Change.
        const std::int16_t hp = 2;
        link.writeSingleRegister(1, 90, hp);
        RegisterScreen screen(pressureScheduleScreen(), ctx);
        screen.readBlocks();
        RegisterScreenDialog d(screen, {});
        d.findChild<QWidget*>("1")->metaObject()->invokeMethod(d.findChild<QWidget*>("1"), "click");
        save(d, dir, "screen_137_hp_changed");
    }
    {
        FlowControlScreen screen(ctx);
        screen.readBlocks();
        FlowControlDialog d(screen, {});
        save(d, dir, "screen_149");
    }
    {
        EmailScreen screen(ctx);
        screen.readBlock();
        EmailDialog d(screen, {});
        save(d, dir, "screen_148");
    }
    {
        AcknowledgeDialog d(link, 1);
        save(d, dir, "screen_144");
    }
    {
        NoPrompts prompts;
        PasswordDialog d(prompts);
        save(d, dir, "screen_112");
    }
    {
        EventWords words{};
        readEventHistory(link, 1, words);
        EventLogDialog d(words);
        save(d, dir, "screen_151");
    }
    {
        // One block not read, so that its note shows.
        CalibrationState state;
        int slave = 1;
        CalibrationEditor editor(link, blocks, state, slave, link.engine.firmware());
        editor.checkConnection();
        editor.readBlocks();
        blocks.block({153, 22}).read = false;
        CalibrationDialog d(editor);
        save(d, dir, "screen_111");
    }
    {
        // A file chosen and written, so that the path and the status line show.
        class ChosenFile : public NoPrompts {
          public:
            std::string path;
            std::string saveFileName(const FileDialogRequest&) override { return path; }
        } prompts;
        prompts.path = dir + "/settings_backup";
        SettingsImage image{};
        readSettingsImage(link, 1, link.engine.firmware(), image);
        UploadDialog d(image, link.engine.firmware(), prompts, dir);
        for (const char* button : {"1", "3"})
            QMetaObject::invokeMethod(d.findChild<QWidget*>(button), "click");
        std::remove((prompts.path + ".csv").c_str());
        save(d, dir, "screen_115");
    }
    return failed ? 1 : 0;
}
