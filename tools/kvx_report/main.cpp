// kvx-report: the service report as a PDF, from a controller (--port) or from files alone
// (--settings and --logs). Every refusal is one line naming what was wrong, with exit status
// 1 (2 for a bad option), and no PDF is left under the output name.
#include <QGuiApplication>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "app/core/program_settings.h"
#include "base/command_line.h"
#include "base/program_directory.h"
#include "display/panel.h"
#include "link/rtu_device_link.h"
#include "overview/overview_cache.h"
#include "overview/overview_set.h"
#include "report/report_pdf.h"
#include "report/report_sources.h"

namespace {

using namespace kvx;

struct Options {
    std::string settings, logs, before, text, out, port, dataDir;
    std::string from, to, at;
    int slave = 1;
    Paper paper = Paper::A4;
    bool help = false, version = false;
};

const char* kUsage =
    "Usage: kvx-report --settings FILE [--logs DIR] [options] --out FILE.pdf\n"
    "       kvx-report --port NAME [--slave N] [--logs DIR] [options] --out FILE.pdf\n"
    "\n"
    "Writes the service report: the controller's identity and the date, the panel, the\n"
    "settings grouped as the settings screens group them (or, with --before, only what\n"
    "changed since the backup), the event log, the overview of the visit's logged hours and\n"
    "the technician's notes.\n"
    "\n"
    "  --settings FILE  a settings file (as Upload Settings writes it): offline\n"
    "  --port NAME      read the controller on this port instead (as kvx-probe names ports)\n"
    "  --slave N        its slave address 1..247 (default 1)\n"
    "  --data-dir DIR   where COMn links live; default the viewer's\n"
    "  --logs DIR       the folder of hourly log files\n"
    "  --from TIME      the visit's start, local \"YYYY-MM-DD[THH[:MM[:SS]]]\"\n"
    "  --to TIME        its end\n"
    "  --at TIME        the panel at this logged moment (default: offline the last record,\n"
    "                   live the controller now)\n"
    "  --before FILE    the settings backup from before the visit\n"
    "  --text FILE      the technician's notes (UTF-8 text)\n"
    "  --paper a4|letter  (default a4)\n"
    "  --out FILE.pdf   the report\n";

bool parse(int argc, char** argv, Options& o, std::string& error) {
    cli::ArgReader args(argc, argv);
    const auto ok = [&](bool good) {
        if (!good) error = args.error();
        return good;
    };
    while (args.next()) {
        const std::string_view name = args.name();
        std::string_view value;
        const auto text = [&](std::string& into) {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a value"));
            into = std::string(value);
            return true;
        };
        if (args.isHelp()) {
            o.help = true;
        } else if (args.isVersion()) {
            o.version = true;
        } else if (name == "--settings") {
            if (!text(o.settings)) return false;
        } else if (name == "--logs") {
            if (!text(o.logs)) return false;
        } else if (name == "--before") {
            if (!text(o.before)) return false;
        } else if (name == "--text") {
            if (!text(o.text)) return false;
        } else if (name == "--out") {
            if (!text(o.out)) return false;
        } else if (name == "--port") {
            if (!text(o.port)) return false;
        } else if (name == "--data-dir") {
            if (!text(o.dataDir)) return false;
        } else if (name == "--from") {
            if (!text(o.from)) return false;
        } else if (name == "--to") {
            if (!text(o.to)) return false;
        } else if (name == "--at") {
            if (!text(o.at)) return false;
        } else if (name == "--slave") {
            if (!ok(args.integer(1, 247, o.slave))) return false;
        } else if (name == "--paper") {
            if (!ok(args.value(value))) return false;
            if (value == "a4" || value == "A4")
                o.paper = Paper::A4;
            else if (value == "letter" || value == "Letter")
                o.paper = Paper::Letter;
            else
                return ok(args.expected("a4 or letter"));
        } else {
            return ok(args.unknown());
        }
    }
    if (o.help || o.version) return true;
    if (o.settings.empty() == o.port.empty()) {
        error = "give --settings FILE (offline) or --port NAME (live), one of them";
        return false;
    }
    if (!o.at.empty() && o.logs.empty()) {
        error = "--at needs --logs DIR";
        return false;
    }
    if (o.out.empty()) {
        error = "--out FILE.pdf is required";
        return false;
    }
    return true;
}

int fail(const std::string& why) {
    std::fprintf(stderr, "kvx-report: %s\n", why.c_str());
    return 1;
}

bool timeOption(const char* name, const std::string& text, std::int64_t& utc, std::string& error) {
    if (text.empty()) return true;
    if (parseLocalTime(text, utc)) return true;
    error = std::string("bad value '") + cli::printable(text) + "' for " + name +
            ": expected a local time \"YYYY-MM-DD[THH[:MM[:SS]]]\"";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parse(argc, argv, o, error)) return cli::reportUsageError("kvx-report", error);
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (o.version) return cli::printVersion("kvx-report");
    std::int64_t from = 0, to = 0, at = 0;
    if (!timeOption("--from", o.from, from, error) || !timeOption("--to", o.to, to, error) ||
        !timeOption("--at", o.at, at, error))
        return cli::reportUsageError("kvx-report", error);
    if (from && to && from > to)
        return cli::reportUsageError("kvx-report", "--from lies after --to");

    // Fonts and images need a GUI application, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    ReportInputs in;
    in.made = static_cast<std::int64_t>(std::time(nullptr));
    // The files first: a bad one needs no line.
    if (!o.settings.empty() && !readReportSettings(o.settings, in, error)) return fail(error);
    if (!o.before.empty() && !readReportBackup(o.before, in, error)) return fail(error);
    if (!o.text.empty() && !readReportText(o.text, in.text, error)) return fail(error);
    OverviewSet set(OverviewCache::shared());
    if (!o.logs.empty() && !findVisitLogs(o.logs, from, to, at, set, in.logs, error))
        return fail(error);

    ReportImages images;
    if (!o.port.empty()) {
        const std::string programDir = programDirectory(o.dataDir);
        RtuDeviceLink link(programDir);
        // A modbus-tls port's files come from the viewer's settings file, as for kvx-probe.
        ProgramSettings settings;
        std::vector<std::string> problems;
        readOptionsFile(programDir, settings, problems);
        link.setTlsFiles(settings.tls);
        if (link.openConnection(o.port) != 0) {
            const std::string why = link.lastOpenError();
            return fail("cannot open " + cli::printable(o.port) + (why.empty() ? "" : ": " + why));
        }
        link.setReplyTimeout(3000);
        InputImage image;
        LiveStatus status;
        DisplayRanges ranges;
        const int rc = readControllerForReport(link, o.slave, in, image, status, ranges, error);
        link.closeConnection();
        if (rc != 0) return fail(cli::printable(o.port) + ": " + error);
        in.source =
            "controller on " + cli::printable(o.port) + ", slave " + std::to_string(o.slave);
        if (at) {
            // The panel of the logged moment asked for, not of now.
            if (!readLoggedPanel(in, error)) return fail(error);
            if (!loggedPanelPicture(in.logs.panelFile, in.logs.panelRecord,
                                    panelPictureSize(o.paper), images.panel, error))
                return fail(error);
        } else {
            in.logs.panelFile.clear();
            images.panel = panelPicture(PanelInputs{*in.panel, image, status, ranges, 1},
                                        panelPictureSize(o.paper));
        }
    } else if (!in.logs.files.empty()) {
        if (!readLoggedPanel(in, error)) return fail(error);
        if (!loggedPanelPicture(in.logs.panelFile, in.logs.panelRecord, panelPictureSize(o.paper),
                                images.panel, error))
            return fail(error);
    }
    if (!in.logs.files.empty()) {
        images.overview = overviewDrawing(set, visitOverviewView(in.logs));
    }

    const ServiceReport report = buildServiceReport(in);
    if (const std::string why = writeReportPdf(report, images, o.paper, o.out); !why.empty())
        return fail(why);
    std::printf("%s\n", o.out.c_str());
    return 0;
}
