// scan, and choosing the meter a command names: both open the attached meters together.
#include <algorithm>

#include "cli_common.h"
#include "format.h"
#include "usb_ports.h"

namespace tessivar::cli::detail {
namespace {

std::string joinIds(const std::vector<int>& ids)
{
    std::string s;
    for (int id : ids)
        s += (s.empty() ? "" : ", ") + std::to_string(id);
    return s;
}

bool allDigits(const std::string& s)
{
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::vector<Survey> surveyMeters(LibrarySession& lib, const std::vector<int>& ids,
                                 CliEnvironment& env)
{
    std::vector<Survey> out(ids.size());
    std::vector<bool> opened(ids.size(), false);
    for (size_t i = 0; i < ids.size(); ++i) {
        out[i].id = ids[i];
        const int rc = openDev(ids[i]);
        opened[i] = rc == TESSIVAR_OK;
        if (!opened[i])
            out[i].state = openRefusal(ids[i]).rfind("no permission", 0) == 0
                             ? Survey::State::NoPermission
                             : Survey::State::InUse;
    }
    auto closeAll = [&] {
        for (size_t i = 0; i < ids.size(); ++i)
            if (opened[i])
                closeDev(ids[i]);
    };
    try {
        const auto deadline = std::chrono::steady_clock::now() + env.readyTimeout;
        for (;;) {
            bool waiting = false;
            for (size_t i = 0; i < ids.size(); ++i)
                if (opened[i] && isInited(ids[i]) != 1 && isDevOpen(ids[i]) == 1)
                    waiting = true;
            if (!waiting || std::chrono::steady_clock::now() >= deadline)
                break;
            pause(env, std::chrono::milliseconds(10));
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            if (!opened[i])
                continue;
            if (isInited(ids[i]) == 1)
                out[i].identity = readIdentity(ids[i]);
            else
                out[i].state = Survey::State::NotAnswering;
        }
    } catch (const Interrupted&) {
        closeAll();
        throw;
    }
    closeAll();
    for (auto& s : out)
        if (s.state == Survey::State::NotAnswering && lib.log().rejectedReplies(s.id) > 0)
            s.state = Survey::State::BadReplies;
    return out;
}

int selectMeter(LibrarySession& lib, const Options& opt, CliEnvironment& env)
{
    const std::vector<int> ids = lib.scan();
    if (ids.empty())
        throw Failure("No meter found.");
    const std::string& m = opt.meter;
    const std::string attached = " (attached: " + joinIds(ids) + "; see 'tessivar scan').";
    if (m.empty()) {
        if (ids.size() == 1)
            return ids[0];
        throw Failure(std::to_string(ids.size()) + " meters are attached (" + joinIds(ids) +
                      "): name one by its id, head serial or port, as 'tessivar scan' shows them.");
    }
    if (allDigits(m) && m.size() <= 10) {
        const long long id = std::stoll(m);
        if (std::find(ids.begin(), ids.end(), id) != ids.end())
            return static_cast<int>(id);
    }
    if (auto path = parsePortPath(m)) {
        const auto id = idOfPorts(path->ports);
        if (id && std::find(ids.begin(), ids.end(), *id) != ids.end())
            return *id;
        throw Failure("No meter is attached at port " + m + attached);
    }
    // A head serial: only the meters themselves know theirs.
    for (const Survey& s : surveyMeters(lib, ids, env))
        if (s.state == Survey::State::Ready && s.identity.headSerial == m)
            return s.id;
    if (allDigits(m))
        throw Failure("No meter with id " + m + " is attached" + attached);
    throw Failure("No meter with head serial " + m + " is attached" + attached);
}

int cmdScan(LibrarySession& lib, const Options& opt, CliEnvironment& env)
{
    const std::vector<int> ids = lib.scan();
    if (ids.empty()) {
        env.err << "No meter found.\n";
        return kExitFailure;
    }
    const std::vector<Survey> meters = surveyMeters(lib, ids, env);
    auto stateText = [](Survey::State s) -> std::string {
        switch (s) {
        case Survey::State::Ready: return "ok";
        case Survey::State::InUse: return "in use by another program";
        case Survey::State::NoPermission: return "no permission";
        case Survey::State::NotAnswering: return "not answering";
        case Survey::State::BadReplies: return "bad replies";
        }
        return "?";
    };
    if (opt.format == OutputFormat::Json) {
        std::string out = "[";
        for (size_t i = 0; i < meters.size(); ++i) {
            const Survey& s = meters[i];
            const bool ready = s.state == Survey::State::Ready;
            auto field = [&](const std::string& v) {
                return ready ? jsonString(v) : std::string("null");
            };
            out += std::string(i ? ",\n " : "") +
                   jsonObject({{"id", std::to_string(s.id)},
                               {"port", jsonOrNull(locateMeter(s.id).portPath)},
                               {"status", jsonString(stateText(s.state))},
                               {"head_name", field(s.identity.headName)},
                               {"head_serial", field(s.identity.headSerial)},
                               {"probe_name", field(s.identity.probeName)},
                               {"probe_serial", field(s.identity.probeSerial)},
                               {"firmware", field(s.identity.firmware)}});
        }
        env.out << out << "]\n";
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const Survey& s : meters) {
        std::string port = locateMeter(s.id).portPath;
        if (port.empty())
            port = "?";
        if (s.state == Survey::State::Ready)
            rows.push_back({std::to_string(s.id), port, s.identity.headName, s.identity.headSerial,
                            s.identity.probeName, s.identity.probeSerial, s.identity.firmware});
        else
            rows.push_back({std::to_string(s.id), port, "(" + stateText(s.state) + ")"});
    }
    env.out << formatTable(
        {"ID", "Port", "Meter head", "Head serial", "Probe", "Probe serial", "Firmware"}, rows);
    return kExitOk;
}

}  // namespace tessivar::cli::detail
