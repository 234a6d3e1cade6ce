#include "sim/fault_injector.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "link/crc16.h"

namespace kvx::sim {
namespace {

constexpr std::array<FaultName, kFaultKinds - 1> kNames = {{
    {FaultKind::noReply, "no-reply", "the request goes unanswered"},
    {FaultKind::badCrc, "bad-crc", "the reply's CRC is damaged"},
    {FaultKind::wrongAddress, "wrong-address", "the reply comes from another slave address"},
    {FaultKind::wrongFunction, "wrong-function", "the reply carries another function code"},
    {FaultKind::exception, "exception", "an exception reply (slave device failure)"},
    {FaultKind::truncated, "truncated", "the reply stops halfway"},
    {FaultKind::trailing, "trailing", "extra bytes follow the reply"},
    {FaultKind::noise, "noise", "garbage bytes come before the reply"},
    {FaultKind::late, "late", "the reply comes after the master's time-out"},
    {FaultKind::cablePulled, "cable-pulled", "nothing answers for a while"},
}};

void recrc(std::vector<std::uint8_t>& frame) {
    if (frame.size() < 2) return;
    appendCrc16(frame.data(), frame.size() - 2);
}

}  // namespace

std::span<const FaultName> faultNames() {
    return kNames;
}

std::string_view faultName(FaultKind kind) {
    for (const FaultName& n : kNames)
        if (n.kind == kind) return n.name;
    return "none";
}

bool parseFaultKind(std::string_view name, FaultKind& out) {
    for (const FaultName& n : kNames) {
        if (n.name == name) {
            out = n.kind;
            return true;
        }
    }
    return false;
}

bool parseFaultOption(std::string_view option, FaultKind& kind, double& rate) {
    const std::size_t colon = option.find(':');
    if (!parseFaultKind(option.substr(0, colon), kind)) return false;
    rate = 1.0;
    if (colon == std::string_view::npos) return true;
    const std::string_view text = option.substr(colon + 1);
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
    return ec == std::errc{} && end == text.data() + text.size() && std::isfinite(rate) &&
           rate >= 0.0 && rate <= 1.0;
}

bool parseFaultAtOption(std::string_view option, FaultKind& kind, long& request) {
    constexpr std::string_view kAt = ":at=";
    const std::size_t at = option.find(kAt);
    if (at == std::string_view::npos || !parseFaultKind(option.substr(0, at), kind)) return false;
    const std::string_view text = option.substr(at + kAt.size());
    long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || n < 1)
        return false;
    request = n;
    return true;
}

FaultInjector::FaultInjector(std::uint32_t seed)
    : state_(0xD1B54A32D192ED03ULL ^ (static_cast<std::uint64_t>(seed) << 17)) {}

std::uint64_t FaultInjector::random() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void FaultInjector::setRate(FaultKind kind, double rate) {
    if (kind == FaultKind::none || !std::isfinite(rate)) return;
    rates_[static_cast<std::size_t>(kind)] = std::clamp(rate, 0.0, 1.0);
}

void FaultInjector::script(std::span<const FaultKind> kinds) {
    script_.insert(script_.end(), kinds.begin(), kinds.end());
}

void FaultInjector::faultAt(long request, FaultKind kind) {
    if (request >= 1 && kind != FaultKind::none) at_[request] = kind;
}

void FaultInjector::clear() {
    script_.clear();
    at_.clear();
    rates_.fill(0.0);
}

FaultKind FaultInjector::next(long request) {
    FaultKind kind = FaultKind::none;
    if (const auto it = at_.find(request); request > 0 && it != at_.end()) {
        kind = it->second;
        at_.erase(it);
    } else if (!script_.empty()) {
        kind = script_.front();
        script_.pop_front();
    } else {
        const double u = static_cast<double>(random() >> 11) / 9007199254740992.0;
        double sum = 0;
        for (std::size_t i = 1; i < rates_.size(); ++i) {
            sum += rates_[i];
            if (rates_[i] > 0 && u < sum) {
                kind = static_cast<FaultKind>(i);
                break;
            }
        }
    }
    if (kind != FaultKind::none) {
        ++injected_;
        ++counts_[static_cast<std::size_t>(kind)];
    }
    return kind;
}

int FaultInjector::apply(FaultKind kind, std::vector<std::uint8_t>& reply) {
    if (reply.size() < 4) return 0;
    switch (kind) {
        case FaultKind::none:
            break;
        case FaultKind::noReply:
        case FaultKind::cablePulled:
            reply.clear();
            break;
        case FaultKind::badCrc:
            reply.back() ^= 0xA5;
            break;
        case FaultKind::wrongAddress:
            reply[0] = static_cast<std::uint8_t>(reply[0] % 247 + 1);
            recrc(reply);
            break;
        case FaultKind::wrongFunction: {
            const std::uint8_t low = reply[1] & 0x7F;
            reply[1] = static_cast<std::uint8_t>((reply[1] & 0x80) | (low == 4 ? 3 : 4));
            recrc(reply);
            break;
        }
        case FaultKind::exception: {
            const std::uint8_t address = reply[0];
            const std::uint8_t function = reply[1] & 0x7F;
            reply.assign({address, static_cast<std::uint8_t>(function | 0x80),
                          static_cast<std::uint8_t>(settings_.exceptionCode)});
            reply.resize(5);
            recrc(reply);
            break;
        }
        case FaultKind::truncated:
            reply.resize(reply.size() / 2);
            break;
        case FaultKind::trailing: {
            const std::size_t extra = 1 + random() % 4;
            for (std::size_t i = 0; i < extra; ++i)
                reply.push_back(static_cast<std::uint8_t>(random()));
            break;
        }
        case FaultKind::noise: {
            const std::size_t extra = 1 + random() % 4;
            std::vector<std::uint8_t> garbage(extra);
            for (auto& b : garbage)
                b = static_cast<std::uint8_t>(random());
            reply.insert(reply.begin(), garbage.begin(), garbage.end());
            break;
        }
        case FaultKind::late:
            return std::max(0, settings_.lateDelayMs);
    }
    return 0;
}

}  // namespace kvx::sim
