// A program without a window: the viewer's core linked alone, as a headless program would link
// it. It builds only while the core needs no Qt; ctest then checks it runs the controller's
// start (the connection sequence's timer is asked for) and that no Qt GUI library is loaded.
#include <cstdio>
#include <string>
#include <vector>

#include "app/core/monitor_clock.h"
#include "app/core/monitor_controller.h"
#include "app/core/monitor_host.h"
#include "app/core/options.h"
#include "app/core/panel_feed.h"
#include "app/core/program_settings.h"
#include "base/program_directory.h"
#include "link/rtu_device_link.h"
#include "log/log_writer.h"
#include "ui/prompts.h"

namespace {

// A host with no window: it only notes the timers the controller asks for.
class HeadlessHost final : public kvx::NullMonitorHost {
  public:
    std::vector<int> armed;
    void armTimer(int id, int) override { armed.push_back(id); }
};

// No one to ask: every box takes its default (No where there is one), every file dialog is
// cancelled.
class NoPrompts final : public kvx::Prompts {
  public:
    int messageBox(const std::string& text, const std::string&, kvx::BoxIcon, kvx::BoxButtons,
                   bool) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return 0;
    }
    std::string openFileName(const kvx::FileDialogRequest&) override { return {}; }
    std::string saveFileName(const kvx::FileDialogRequest&) override { return {}; }
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    kvx::Options options;
    std::string error;
    if (kvx::parseOptions(args, options, error) != kvx::kOptionsOk) {
        std::fprintf(stderr, "app_core_headless: %s\n", error.c_str());
        return 2;
    }
    const std::string dir = kvx::programDirectory(options.dataDir.value_or(""));
    kvx::ProgramSettings settings;
    kvx::readCommFile(dir, settings);

    kvx::RtuDeviceLink link(dir);
    kvx::LogWriter log(dir);
    NoPrompts prompts;
    HeadlessHost host;
    kvx::PanelFeed feed;
    kvx::MonitorController controller(link, log, prompts, host, settings, feed,
                                      kvx::systemMonitorClock());
    controller.onCreate();
    for (const int id : host.armed)
        if (id == kvx::kTimerSequence) return 0;
    std::fprintf(stderr, "app_core_headless: the connection sequence was not started\n");
    return 1;
}
