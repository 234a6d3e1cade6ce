// Any command line for the viewer and the simulator, and any text as a number.
//
// Input: one byte choosing the parser, then the arguments separated by zero bytes.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/options.h"
#include "base/command_line.h"
#include "fuzz_check.h"
#include "sim/sim_options.h"

using namespace kvx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::vector<std::string> args{data[0] & 1 ? "dravo-sim" : "orvik-kvx"};
    std::string current;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    args.push_back(current);
    std::string error;

    if (data[0] & 1) {
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        argv.push_back(nullptr);
        sim::SimOptions options;
        const bool ok =
            sim::parseSimOptions(static_cast<int>(args.size()), argv.data(), options, error);
        FUZZ_CHECK(ok == error.empty());
        if (ok) FUZZ_CHECK(options.seconds >= 0 && std::isfinite(options.seconds));
        // The message is one line.
        FUZZ_CHECK(error.find('\n') == std::string::npos);
    } else {
        Options options;
        const int rc = parseOptions(args, options, error);
        FUZZ_CHECK(rc == kOptionsOk || rc == kOptionsHelp || rc == kOptionsError ||
                   rc == kOptionsVersion);
        FUZZ_CHECK((rc == kOptionsError) == !error.empty());
        FUZZ_CHECK(error.find('\n') == std::string::npos);
        if (rc == kOptionsOk && options.quitAfterSeconds)
            FUZZ_CHECK(std::isfinite(*options.quitAfterSeconds) && *options.quitAfterSeconds >= 0);
    }

    // Each argument as a number: accepted only in range, and then exactly.
    for (const std::string& a : args) {
        long long i = 0;
        if (cli::parseInteger(a, -1000, 1000, i)) FUZZ_CHECK(i >= -1000 && i <= 1000);
        double d = 0;
        if (cli::parseDecimal(a, -1e6, 1e6, d))
            FUZZ_CHECK(std::isfinite(d) && d >= -1e6 && d <= 1e6);
    }
    return 0;
}
