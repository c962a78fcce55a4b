// quillon publish: the computer's modules on an MQTT broker, for a collector
// elsewhere to gather their spectra and command them.
#include <unistd.h>

#include <fstream>
#include <map>
#include <thread>

#include "command_frame.h"
#include "exit_status.h"
#include "instrument.h"
#include "interrupt.h"
#include "library_console.h"
#include "module_publisher.h"

namespace quillon::cli {
namespace {

using publish::ModulePublisher;
using publish::PublishSettings;

const char* const kHelp =
    "Usage: quillon publish --broker mqtt://HOST[:PORT] [--prefix P]\n"
    "                       [--device N|SERIAL ...|--all] [--client-id ID]\n"
    "                       [--username U --password-file F] [--tls-ca FILE]\n"
    "                       [--queue N] [--keepalive SECONDS]\n"
    "\n"
    "Serves this computer's modules on an MQTT broker, each on its own thread\n"
    "and connection, under P/SERIAL/: `status` (retained; the connection's will\n"
    "says {\"online\": false} when this program or its network dies),\n"
    "`configurations` (retained), `spectrum` (one JSON document per spectrum,\n"
    "as `quillon scan --json` writes it, with `serial` and an increasing `id`),\n"
    "and `cmd`, answered on `reply`:\n"
    "  {\"id\": 1, \"op\": \"scan\", \"average\": 1, \"lamp\": \"auto|on|off|keep\",\n"
    "   \"sample\": \"...\", \"comment\": \"...\"}\n"
    "  {\"id\": 2, \"op\": \"series\", \"count\": N, \"interval_s\": S}  (count 0: until stopped)\n"
    "  {\"id\": 3, \"op\": \"stop\"}    {\"id\": 4, \"op\": \"lamp\", \"on\": true}\n"
    "  {\"id\": 5, \"op\": \"activate\", \"position\": N}    {\"id\": 6, \"op\": \"status\"}\n"
    "Spectra measured while the broker cannot be reached wait (up to --queue of\n"
    "them, the oldest dropped and counted in the status) and go out in order once\n"
    "it is back. Ctrl-C or SIGTERM stops a series, switches off lamps this\n"
    "program switched on, sends what is queued for up to 5 s, and exits 0.\n"
    "\n"
    "  --broker URL      mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883)\n"
    "  --prefix P        topic prefix (default quillon)\n"
    "  --device N|SERIAL a module by index or serial number; again for more\n"
    "  --all             every attached module, and those attached later (default)\n"
    "  --client-id ID    MQTT client id; each module's connection adds -SERIAL\n"
    "                    (default quillon-HOST-SERIAL)\n"
    "  --username U      user name for the broker, with the password read from\n"
    "  --password-file F the first line of F\n"
    "  --tls-ca FILE     certificate authority for mqtts:// (default: the system's)\n"
    "  --queue N         spectra kept per module while the broker is away (1000)\n"
    "  --keepalive S     seconds after which the broker declares a silent\n"
    "                    connection dead and publishes its will (30, at least 5)\n";

const OptionSpec kOptions[] = {{"broker", true},    {"prefix", true},   {"all", false},
                               {"client-id", true}, {"username", true}, {"password-file", true},
                               {"tls-ca", true},    {"queue", true},    {"keepalive", true}};

constexpr auto kWatchEvery = std::chrono::seconds(2);
constexpr auto kFlushFor = std::chrono::seconds(5);

struct Request {
    PublishSettings settings;
    std::vector<std::string> devices;  // indexes or serial numbers; empty: all
};

// `--device` takes serial numbers here, which the shared option does not.
Words takeDevices(const Words& words, std::vector<std::string>& devices,
                  std::optional<std::string>& error) {
    Words rest;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") {
            rest.insert(rest.end(), words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
            break;
        }
        if (word.rfind("--device=", 0) == 0) {
            devices.push_back(word.substr(9));
        } else if (word == "--device") {
            if (i + 1 == words.size())
                error = "--device needs a module index or serial number";
            else
                devices.push_back(words[++i]);
        } else {
            rest.push_back(word);
        }
    }
    return rest;
}

std::optional<int> parseRequest(const ParsedArguments& args, Request& request) {
    if (!args.positional.empty())
        return usageError("publish", "unexpected '" + args.positional[0] + "'");
    PublishSettings& s = request.settings;
    const std::optional<std::string> broker = args.value("broker");
    if (!broker) return usageError("publish", "--broker mqtt://HOST[:PORT] is needed");
    if (auto error = publish::parseBrokerUrl(*broker, s.broker))
        return usageError("publish", *error);
    if (auto prefix = args.value("prefix")) {
        if (prefix->empty() || prefix->find_first_of("+#") != std::string::npos ||
            prefix->back() == '/')
            return usageError("publish",
                              "--prefix needs topic levels without + or #, not '" + *prefix + "'");
        s.prefix = *prefix;
    }
    if (args.has("all") && !request.devices.empty())
        return usageError("publish", "--all and --device contradict each other");
    unsigned long number = 0;
    if (auto text = args.value("queue")) {
        if (!parseUnsigned(*text, 1, 10000000, number))
            return usageError("publish",
                              "--queue needs a count from 1 to 10000000, not '" + *text + "'");
        s.queue = number;
    }
    if (auto text = args.value("keepalive")) {
        if (!parseUnsigned(*text, 5, 65535, number))
            return usageError("publish",
                              "--keepalive needs seconds from 5 to 65535, not '" + *text + "'");
        s.broker.keepaliveSeconds = static_cast<int>(number);
    }
    if (auto ca = args.value("tls-ca")) {
        if (!s.broker.tls) return usageError("publish", "--tls-ca goes with an mqtts:// broker");
        if (access(ca->c_str(), R_OK) != 0)
            return usageError("publish", "cannot read '" + *ca + "'");
        s.broker.caFile = *ca;
    }
    if (auto user = args.value("username")) s.broker.username = *user;
    if (auto file = args.value("password-file")) {
        if (s.broker.username.empty())
            return usageError("publish", "--password-file goes with --username");
        std::ifstream in(*file);
        if (!in || !std::getline(in, s.broker.password))
            return usageError("publish", "cannot read a password from '" + *file + "'");
        if (!s.broker.password.empty() && s.broker.password.back() == '\r')
            s.broker.password.pop_back();
    }
    if (auto id = args.value("client-id")) {
        if (id->empty()) return usageError("publish", "--client-id needs a name");
        s.clientId = *id;
    }
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    s.host = host;
    s.run = publish::utcText(std::chrono::system_clock::now());
    return std::nullopt;
}

// Serves the chosen modules until a signal comes.
class Fleet {
  public:
    explicit Fleet(const Request& request) : request_(request) {}

    // Opens what is chosen and not yet served. False when a module named on
    // the command line cannot be served at the start.
    bool refresh(bool first) {
        for (auto it = publishers_.begin(); it != publishers_.end();) {
            if (it->second->serving()) {
                ++it;
                continue;
            }
            nextIds_[it->first] = it->second->nextId();
            it = publishers_.erase(it);
        }
        std::vector<publish::AttachedModule> modules;
        std::string why;
        if (!publish::listModules(modules, why)) {
            if (first) reportError("no module found: " + why);
            return request_.devices.empty();
        }
        bool ok = true;
        for (const std::string& wanted : request_.devices) {
            const bool attached = std::any_of(modules.begin(), modules.end(), [&](const auto& m) {
                return chosen(m, modules, wanted);
            });
            if (!attached && first) {
                reportError("no module " + wanted + " (" + std::to_string(modules.size()) +
                            " found)");
                ok = false;
            }
        }
        for (const publish::AttachedModule& module : modules) {
            if (publishers_.count(module.serial) != 0 || !wanted(module, modules)) continue;
            std::unique_ptr<publish::Instrument> instrument = publish::openInstrument(module, why);
            if (!instrument) {
                reportError("cannot open module " + module.serial + ": " + why);
                ok = ok && !first;
                continue;
            }
            PublishSettings settings = request_.settings;
            if (auto next = nextIds_.find(module.serial); next != nextIds_.end())
                settings.firstId = next->second;
            settings.clientId =
                (settings.clientId.empty() ? "quillon-" + settings.host : settings.clientId) + "-" +
                module.serial;
            auto publisher = std::make_unique<ModulePublisher>(std::move(instrument), settings);
            if (!publisher->start(why)) {
                reportError(module.serial + ": " + why);
                return false;
            }
            std::fprintf(LibraryConsole::out(), "Publishing module %s as %s/%s/\n",
                         module.serial.c_str(), settings.prefix.c_str(), module.serial.c_str());
            std::fflush(LibraryConsole::out());
            publishers_.emplace(module.serial, std::move(publisher));
        }
        return ok;
    }

    // Every module at once, so that together they take the flushing time of one.
    void shutdown() {
        const auto deadline = std::chrono::steady_clock::now() + kFlushFor;
        std::vector<std::thread> closing;
        for (auto& [serial, publisher] : publishers_)
            closing.emplace_back([&p = *publisher, deadline] { p.shutdown(deadline); });
        for (std::thread& t : closing) t.join();
        publishers_.clear();
    }

  private:
    static bool chosen(const publish::AttachedModule& module,
                       const std::vector<publish::AttachedModule>& modules,
                       const std::string& wanted) {
        if (module.serial == wanted) return true;
        unsigned long index = 0;
        return parseUnsigned(wanted, 0, 255, index) && index < modules.size() &&
               &modules[index] == &module;
    }

    bool wanted(const publish::AttachedModule& module,
                const std::vector<publish::AttachedModule>& modules) const {
        if (request_.devices.empty()) return true;
        for (const std::string& w : request_.devices)
            if (chosen(module, modules, w)) return true;
        return false;
    }

    const Request& request_;
    std::map<std::string, std::unique_ptr<ModulePublisher>> publishers_;
    // Of modules that went away: a module attached again goes on counting.
    std::map<std::string, uint64_t> nextIds_;
};

}  // namespace

int runPublish(const Words& words, GlobalOptions& global) {
    Request request;
    std::optional<std::string> deviceError;
    const Words rest = takeDevices(words, request.devices, deviceError);
    if (deviceError) return usageError("publish", *deviceError);
    ParsedArguments args;
    if (auto done = beginCommand("publish", kHelp, rest, kOptions, global, args)) return *done;
    if (auto status = parseRequest(args, request)) return *status;

    InterruptWatch interrupt;
    Fleet fleet(request);
    if (!fleet.refresh(true)) {
        fleet.shutdown();
        return kExitFailed;
    }
    while (interrupt.sleepUntil(std::chrono::steady_clock::now() + kWatchEvery))
        fleet.refresh(false);
    fleet.shutdown();
    return kExitOk;
}

}  // namespace quillon::cli
