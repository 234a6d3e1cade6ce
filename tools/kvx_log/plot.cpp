#include "plot.h"

#include <sys/stat.h>

#include <QGuiApplication>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "log/log_csv.h"
#include "overview/channel_table.h"
#include "overview/overview_export.h"
#include "overview/overview_set.h"

namespace kvx {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileProblem = 1;
constexpr int kExitSomeLeftOut = 3;
constexpr const char* kTimeExample = "a local time such as 2026-12-08 or 2026-12-08T13:30";

int usage(const std::string& message) {
    std::fprintf(stderr,
                 "kvx-log: %s (usage: kvx-log plot FILE|FOLDER... [--from TIME] [--to TIME] "
                 "[--channels LIST] [--size WxH] --out FILE.png|FILE.svg)\n",
                 message.c_str());
    return cli::kExitUsage;
}

void complain(const std::string& path, const std::string& message) {
    std::fprintf(stderr, "kvx-log: %s: %s\n", cli::printable(path).c_str(), message.c_str());
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool parseSize(std::string_view text, int& width, int& height) {
    const std::size_t x = text.find('x');
    long long w = 0, h = 0;
    if (x == std::string_view::npos || !cli::parseInteger(text.substr(0, x), 100, 10000, w) ||
        !cli::parseInteger(text.substr(x + 1), 100, 10000, h))
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

std::string localMinute(double t) {
    return overviewDateText(t) + " " + overviewTimeText(t, std::fmod(t, 60) == 0 ? 60 : 1);
}

// Qt's notes about the session (no runtime folder and the like) are not the user's business
// in a command-line run; its errors still are.
void quietQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "kvx-log: %s\n", message.toLocal8Bit().constData());
}

}  // namespace

int runPlot(int argc, char** argv) {
    cli::ArgReader args(argc - 1, argv + 1);
    std::vector<std::string> inputs;
    std::string out;
    std::int64_t from = 0, to = 0;
    bool hasFrom = false, hasTo = false, optionsEnd = false;
    std::vector<int> fields = defaultOverviewFields();
    int width = 1920, height = 1080;
    while (args.next()) {
        const std::string_view name = args.name();
        std::string_view value;
        if (!optionsEnd && args.arg() == "--") {
            optionsEnd = true;
        } else if (optionsEnd || !args.isOption()) {
            inputs.emplace_back(args.arg());
        } else if (name == "--from" || name == "--to") {
            if (!args.value(value)) return usage(args.error());
            std::int64_t& t = name == "--from" ? from : to;
            if (!parseLocalTime(value, t)) {
                args.expected(kTimeExample);
                return usage(args.error());
            }
            (name == "--from" ? hasFrom : hasTo) = true;
        } else if (name == "--channels") {
            if (!args.value(value)) return usage(args.error());
            std::string why;
            if (!parseChannelList(value, fields, &why)) return usage("--channels: " + why);
        } else if (name == "--size") {
            if (!args.value(value)) return usage(args.error());
            if (!parseSize(value, width, height)) {
                args.expected("WIDTHxHEIGHT, each 100 to 10000 pixels, such as 1920x1080");
                return usage(args.error());
            }
        } else if (name == "--out") {
            if (!args.value(value)) return usage(args.error());
            out = value;
        } else {
            args.unknown();
            return usage(args.error());
        }
    }
    if (inputs.empty()) return usage("plot needs a FILE or FOLDER");
    if (out.empty()) return usage("plot needs --out FILE.png or --out FILE.svg");
    PictureFormat format;
    if (!pictureFormatOf(out, format))
        return usage("bad value '" + cli::printable(out) +
                     "' for --out: expected a name ending in .png or .svg");
    if (hasFrom && hasTo && to <= from) return usage("--to must be later than --from");

    // A folder stands for its log files (those of the hours asked for).
    std::vector<std::string> paths;
    for (const std::string& input : inputs) {
        if (!isFolder(input)) {
            paths.push_back(input);
            continue;
        }
        std::string why;
        const std::vector<std::string> found =
            findLogFiles(input, hasFrom ? from : INT64_MIN / 2, hasTo ? to : INT64_MAX / 2, &why);
        if (found.empty()) {
            std::fprintf(stderr, "kvx-log: %s\n", cli::printable(why).c_str());
            return kExitFileProblem;
        }
        paths.insert(paths.end(), found.begin(), found.end());
    }

    OverviewSet set(OverviewCache::shared());
    set.setFiles(paths);
    set.build();
    int status = kExitOk;
    for (const OverviewFile& f : set.files()) {
        if (!f.problem.empty()) {
            complain(f.path, f.problem);
            status = kExitSomeLeftOut;
        } else if (f.summary->damagedCount > 0) {
            complain(f.path, std::to_string(f.summary->damagedCount) + " of " +
                                 std::to_string(f.summary->recordCount) +
                                 " records damaged, marked in the plot");
            status = kExitSomeLeftOut;
        }
    }
    if (set.usableCount() == 0) {
        std::fprintf(stderr, "kvx-log: no readable log file, nothing to plot\n");
        return kExitFileProblem;
    }
    OverviewView view;
    view.from = hasFrom ? static_cast<double>(from) : set.firstTime();
    view.to = hasTo ? static_cast<double>(to) : set.endTime();
    bool any = false;
    if (view.to > view.from)
        set.forEachRecord(view.from, view.to, [&](const LogRecord&, double) { any = true; });
    if (!any) {
        const std::string range =
            hasFrom && hasTo ? "between " + localMinute(view.from) + " and " + localMinute(view.to)
            : hasFrom        ? "from " + localMinute(view.from) + " on"
                             : "before " + localMinute(view.to);
        std::fprintf(stderr, "kvx-log: no records %s (the files hold %s to %s)\n", range.c_str(),
                     localMinute(set.firstTime()).c_str(), localMinute(set.endTime()).c_str());
        return kExitFileProblem;
    }
    view.fields = fields;
    view.title = "KVX log " + localMinute(view.from) + " to " + localMinute(view.to) + ", " +
                 std::to_string(set.usableCount()) + (set.usableCount() == 1 ? " file" : " files");

    // No window is opened: the offscreen platform draws without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietQt);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication app(qtArgc, qtArgv);
    std::string why;
    OverviewGeometry drawn;
    if (!writeOverviewPicture(out, format, width, height, set, view, &why, &drawn)) {
        std::fprintf(stderr, "kvx-log: %s\n", cli::printable(why).c_str());
        return kExitFileProblem;
    }
    if (drawn.strips.size() < view.fields.size()) {
        std::string left;
        for (std::size_t i = drawn.strips.size(); i < view.fields.size(); ++i)
            left += std::string(i == drawn.strips.size() ? "" : ", ") +
                    std::string(overviewChannel(view.fields[i]).name);
        std::fprintf(stderr,
                     "kvx-log: warning: only %zu of %zu channels fit in %dx%d; left out: %s (a "
                     "taller --size has room for them)\n",
                     drawn.strips.size(), view.fields.size(), width, height, left.c_str());
    }
    return status;
}

}  // namespace kvx
