// kvx-archive: the office end of the fleet. Keeps, per unit, the hourly log files its agent
// writes, byte for byte, from the records published on an MQTT broker, and tells each agent
// what is on its disk (kvx/<site>/<serial>/archived) so that the agent resends the rest.
#include <signal.h>

#include <cstdio>
#include <string>

#include "base/command_line.h"
#include "fleet/archive_service.h"
#include "fleet/credentials.h"
#include "fleet/mqtt_client.h"

namespace {

using namespace kvx;

const char kUsage[] =
    "Usage: kvx-archive --broker URL --dir DIR [--ca FILE] [--credentials FILE]\n"
    "                   [--client-id ID]\n"
    "  or:  kvx-archive --help | --version\n";

const char kHelp[] =
    "\n"
    "Subscribes to every unit's records (kvx/+/+/record) on an MQTT broker and writes them into\n"
    "DIR/<site>/<serial>/<log file>, each at its place in the file, so that once every record has\n"
    "arrived the file is byte for byte the agent's own hourly log file. Records are on the disk\n"
    "at most 200 ms after they arrive; then kvx/<site>/<serial>/archived {\"v\":1,\"through\":S}\n"
    "(retained) tells the agent that every record up to S is kept. A record already kept (by the\n"
    "unit and its sequence number) is skipped. Only the records of units whose identity\n"
    "(kvx/+/+/identity) it has seen are taken; a unit once seen stays known (in the state file).\n"
    "A message that is not a good record, or a record of a unit not known, is skipped with one\n"
    "line on standard error; nothing is written from it (the agent sends it again later).\n"
    "\n"
    "  --broker URL         mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883, TLS; the\n"
    "                       broker's certificate and name are checked)\n"
    "  --ca FILE            the CA certificate that signs the broker's (default: the system's)\n"
    "  --credentials FILE   user name on the first line, password on the second; the file must\n"
    "                       not be readable by group or others\n"
    "  --dir DIR            the archive; it holds kvx-archive.state (the known units and each\n"
    "                       one's `through`)\n"
    "  --client-id ID       the broker session's id (default kvx-archive): the broker queues\n"
    "                       records for this id while the archive is away, so keep it fixed\n"
    "\n"
    "TERM or INT: everything received is written and flushed, the state kept, exit status 0;\n"
    "the last lines count the records and give the delay from the agents' publish time to the\n"
    "write (median, 99th percentile) over the live records.\n"
    "Exit status: 1 the archive or the broker settings cannot be used; 2 bad usage.\n";

void logLine(const std::string& line) {
    std::fprintf(stderr, "kvx-archive: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    cli::ArgReader args(argc, argv);
    std::string broker, dir, ca, credentialsPath;
    fleet::ArchiveOptions options;
    while (args.next()) {
        std::string_view value;
        if (args.isHelp()) {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (args.isVersion()) return cli::printVersion("kvx-archive");
        const std::string_view name = args.name();
        std::string* target = name == "--broker"        ? &broker
                              : name == "--dir"         ? &dir
                              : name == "--ca"          ? &ca
                              : name == "--credentials" ? &credentialsPath
                              : name == "--client-id"   ? &options.clientId
                                                        : nullptr;
        if (!target) {
            args.unknown();
            return cli::reportUsageError("kvx-archive", args.error());
        }
        if (!args.value(value)) return cli::reportUsageError("kvx-archive", args.error());
        if (value.empty()) {
            return cli::reportUsageError("kvx-archive",
                                         std::string(name) + " needs a value that is not empty");
        }
        *target = std::string(value);
    }
    if (broker.empty()) return cli::reportUsageError("kvx-archive", "--broker is required");
    if (dir.empty()) return cli::reportUsageError("kvx-archive", "--dir is required");
    const auto address = fleet::parseBrokerUrl(broker);
    if (!address) return cli::reportUsageError("kvx-archive", address.reason);
    if (!ca.empty() && !address->tls) {
        return cli::reportUsageError("kvx-archive", "--ca is for an mqtts:// broker");
    }
    if (options.clientId.size() > 64) {
        return cli::reportUsageError("kvx-archive", "--client-id is longer than 64 characters");
    }
    options.broker = *address;
    options.caFile = ca;
    options.directory = dir;
    if (!credentialsPath.empty()) {
        const auto credentials = fleet::readCredentialsFile(credentialsPath);
        if (!credentials) {
            logLine(credentials.reason);
            return 1;
        }
        options.credentials = *credentials;
    }

    // TERM and INT are taken by sigwait below, in this thread only: block them before any
    // thread starts, so every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    fleet::ArchiveService service(options, logLine);
    if (const std::string problem = service.start(); !problem.empty()) {
        logLine(problem);
        return 1;
    }
    logLine("archiving " + broker + " into " + dir);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    const std::string problem = service.stop();
    const auto counts = service.counts();
    logLine("stopped: " + std::to_string(counts.written) + " records written, " +
            std::to_string(counts.duplicates) + " duplicates skipped, " +
            std::to_string(counts.refused) + " messages refused");
    logLine(service.delaySummary());
    if (!problem.empty()) {
        logLine("cannot flush: " + problem);
        return 1;
    }
    return 0;
}
