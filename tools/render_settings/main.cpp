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
#include "settings/restore_dialog.h"
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
        if (ref == failWriteRef) return 132;
        return engine.writeHolding(ref, &v, 1, 0);
    }
    int writeMultipleRegisters(int, int ref, const std::int16_t* v, int n) override {
        return engine.writeHolding(ref, v, n, 0);
    }
    sim::ControllerEngine engine;
    int failWriteRef = 0;  // a write to it goes unanswered
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
        AcknowledgeDialog d({link, blocks, 1});
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
        CalibrationEditor editor({link, blocks, 1, link.engine.firmware()}, state);
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
    {
        // A file of another controller of the same firmware: ten settings apart, its own
        // serial number and slave address, and the clock moved on since.
        SettingsImage image{};
        readSettingsImage(link, 1, link.engine.firmware(), image);
        image[2] = 2418;
        image[3] = 5;
        image[9] = 7;    // hour_meter
        image[152] = 3;  // rtc_hour_4x
        SettingsFileContents file;
        SettingsFileError error;
        if (!parseSettingsFile(settingsFileText(image, link.engine.firmware()), file, error)) {
            std::fprintf(stderr, "kvx-render-settings: %s\n", error.text().c_str());
            return 1;
        }
        const std::pair<int, std::int16_t> changed[] = {
            {41, 1100}, {52, 300},  {65, 260}, {77, 1250}, {97, 450},
            {104, 420}, {107, 236}, {130, 0},  {140, 45},  {174, 1150}};
        for (auto [reference, value] : changed)
            link.writeSingleRegister(1, reference, value);
        SettingsComparison comparison;
        readAndCompareSettings(link, 1, link.engine.firmware(), file, comparison);
        NoPrompts prompts;
        const std::string path = "/home/tech/.local/share/Orvik_KVX/unit_2418.csv";
        {
            RestoreDialog d(comparison, path, {link, blocks, 1}, prompts);
            save(d, dir, "screen_116");
        }
        {
            // After Write, one register refused half way.
            RestoreDialog d(comparison, path, {link, blocks, 1}, prompts);
            link.failWriteRef = 104;
            QMetaObject::invokeMethod(d.findChild<QWidget*>("1"), "click");
            link.failWriteRef = 0;
            save(d, dir, "screen_116_written");
        }
    }
    return failed ? 1 : 0;
}
