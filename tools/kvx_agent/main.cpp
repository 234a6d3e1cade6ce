// kvx-agent: the viewer's poll cycle without a window, beside a controller on a small PC or
// gateway: it logs the hourly files as the window does and publishes to an MQTT broker.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "agent/agent_config.h"
#include "agent/fleet_publisher.h"
#include "base/command_line.h"
#include "fleet/credentials.h"
#include "fleet/mqtt_client.h"
#include "link/rtu_device_link.h"

namespace {

const char kHelp[] =
    "Usage: kvx-agent --config FILE [--check]\n"
    "  or:  kvx-agent --help | --version\n"
    "\n"
    "Polls one controller as the Orvik KVX viewer does (the same poll cycle, automatic\n"
    "reconnection with a growing pause, hourly log files) and publishes every logged record,\n"
    "the controller's identity, the line's status and alarm changes to an MQTT broker.\n"
    "\n"
    "  --config FILE   the configuration file (key = value lines; see docs/mqtt.md)\n"
    "  --check         read and check the configuration, then exit (0: it is good)\n"
    "\n"
    "It never waits for a person: what the window would ask in a box goes to standard error\n"
    "(the journal under systemd). TERM or INT: the log file is closed, what is logged is\n"
    "published or left to be sent again at the next start, exit status 0. A bad configuration\n"
    "is refused at start with its line named (exit status 2).\n";

std::atomic<bool> stopRequested{false};

extern "C" void onStopSignal(int) {
    stopRequested.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    kvx::cli::ArgReader args(argc, argv);
    std::string configPath;
    bool checkOnly = false;
    while (args.next()) {
        if (args.isHelp()) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (args.isVersion()) return kvx::cli::printVersion("kvx-agent");
        std::string_view v;
        if (args.name() == "--config") {
            if (!args.value(v)) return kvx::cli::reportUsageError("kvx-agent", args.error());
            configPath = std::string(v);
        } else if (args.name() == "--check") {
            if (!args.noValue()) return kvx::cli::reportUsageError("kvx-agent", args.error());
            checkOnly = true;
        } else {
            args.unknown();
            return kvx::cli::reportUsageError("kvx-agent", args.error());
        }
    }
    if (configPath.empty()) return kvx::cli::reportUsageError("kvx-agent", "--config is needed");

    kvx::agent::AgentConfig config;
    std::vector<std::string> problems;
    if (!kvx::agent::readAgentConfig(configPath, config, problems)) {
        for (const std::string& p : problems)
            std::fprintf(stderr, "kvx-agent: %s\n", p.c_str());
        return 2;
    }
    // The broker's secrets and address are checked now too: an agent that cannot publish
    // is refused at start, not found silent later.
    kvx::fleet::MqttOptions mqtt;
    mqtt.broker = *kvx::fleet::parseBrokerUrl(config.broker);
    const kvx::fleet::Decoded<kvx::fleet::Credentials> credentials =
        kvx::fleet::readCredentialsFile(config.credentialsFile);
    if (!credentials) {
        std::fprintf(stderr, "kvx-agent: %s: %s\n", configPath.c_str(), credentials.reason.c_str());
        return 2;
    }
    mqtt.credentials = *credentials;
    mqtt.caFile = config.caFile;
    if (!config.caFile.empty() && ::access(config.caFile.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "kvx-agent: %s: ca_file %s cannot be read\n", configPath.c_str(),
                     config.caFile.c_str());
        return 2;
    }
    if (checkOnly) return 0;

    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    kvx::RtuDeviceLink link(config.stateFolder);
    kvx::agent::Agent agent(config, link);
    std::string why;
    if (!agent.prepare(why)) {
        std::fprintf(stderr, "kvx-agent: %s\n", why.c_str());
        return 1;
    }
    auto publisher = std::make_unique<kvx::agent::FleetPublisher>(agent, mqtt);
    if (!publisher->prepare(why)) {
        std::fprintf(stderr, "kvx-agent: %s\n", why.c_str());
        return 1;
    }
    agent.setSink(std::move(publisher));
    std::fprintf(stderr, "kvx-agent: polling %s (slave %d) for site %s, logging to %s\n",
                 config.port.c_str(), config.slave, config.site.c_str(), config.logFolder.c_str());
    const int status = agent.run(stopRequested);
    std::fprintf(stderr, "kvx-agent: stopped\n");
    return status;
}
