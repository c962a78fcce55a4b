// quillon serve: a live view of the module in the browser, and a JSON API.
#include <arpa/inet.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "access_guard.h"
#include "api_routes.h"
#include "command_frame.h"
#include "event_hub.h"
#include "exit_status.h"
#include "library_console.h"
#include "module_handle.h"
#include "module_service.h"
#include "quillonlib.h"
#include "web_server.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon serve [--port N] [--bind ADDR]\n"
    "\n"
    "Holds the module and serves a page that shows its spectra live, with the\n"
    "lamp, the configurations, dark and white references, and downloads, plus the\n"
    "JSON API under /api/ that the page uses. Prints one line with the address to\n"
    "open, which carries a fresh secret token; every request needs it (the page\n"
    "keeps it in a cookie). Requests are logged on standard error. Ctrl-C stops\n"
    "the server, switches the lamp off if the server switched it on, and closes\n"
    "the module.\n"
    "\n"
    "  --port N     TCP port (default 8642; 0 takes any free port)\n"
    "  --bind ADDR  the IP address to listen on (default 127.0.0.1, this computer\n"
    "               only). Another address lets other computers reach the page:\n"
    "               anyone who has the link can drive the module.\n";

const OptionSpec kOptions[] = {{"port", true}, {"bind", true}};

constexpr long kDefaultPort = 8642;
constexpr size_t kMaxEventStreams = 32;
constexpr size_t kMaxPendingEvents = 256;

struct Address {
    bool loopback = false;
    bool any = false;  // every interface
    bool v6 = false;
};

std::optional<Address> parseAddress(const std::string& text) {
    Address address;
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        const uint32_t host = ntohl(v4.s_addr);
        address.loopback = (host >> 24) == 127;
        address.any = host == 0;
        return address;
    }
    if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        address.v6 = true;
        address.loopback = IN6_IS_ADDR_LOOPBACK(&v6);
        address.any = IN6_IS_ADDR_UNSPECIFIED(&v6);
        return address;
    }
    return std::nullopt;
}

// The Host values a browser sends for this server, without the port.
std::vector<std::string> acceptedHosts(const std::string& bind, const Address& address,
                                       std::string& shown) {
    std::vector<std::string> hosts{address.v6 ? "[" + bind + "]" : bind};
    shown = hosts.front();
    if (address.loopback || address.any) {
        hosts.push_back("localhost");
        hosts.push_back("127.0.0.1");
        hosts.push_back("[::1]");
    }
    if (address.any) {
        char name[256] = {};
        if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
            std::string lower = name;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            hosts.push_back(lower);
            shown = lower;
        }
    }
    return hosts;
}

// One attached module as the server holds it; closed when the server ends.
struct ServedModule {
    quillon_module* handle = nullptr;
    std::unique_ptr<serve::EventHub> events;
    std::unique_ptr<serve::ModuleService> service;

    ServedModule() = default;
    ServedModule(ServedModule&& other) noexcept
        : handle(std::exchange(other.handle, nullptr)),
          events(std::move(other.events)),
          service(std::move(other.service)) {}
    ~ServedModule() {
        service.reset();
        if (handle != nullptr) quillon_close(handle);
    }
};

// The module --device names, or every attached module when it is not given.
bool openModules(const GlobalOptions& global, std::vector<ServedModule>& served) {
    setLogSwitch(global.log ? 1 : 0);
    const auto modules = listModules();
    if (!modules) return false;
    std::vector<size_t> chosen;
    if (global.deviceGiven || modules->empty()) {
        const std::optional<size_t> one = chooseModule(global, *modules);
        if (!one) return false;
        chosen.push_back(*one);
    } else {
        for (size_t i = 0; i < modules->size(); ++i) chosen.push_back(i);
    }
    for (size_t index : chosen) {
        const quillon_module_info& info = (*modules)[index];
        ServedModule module;
        if (const quillon_result result = quillon_open(info.path, &module.handle);
            result != QUILLON_OK) {
            reportResult("cannot open module " + std::to_string(index) + " (" + info.serial + ")",
                         result);
            return false;
        }
        module.events = std::make_unique<serve::EventHub>(kMaxEventStreams, kMaxPendingEvents);
        module.service =
            std::make_unique<serve::ModuleService>(module.handle, info, *module.events);
        served.push_back(std::move(module));
    }
    return true;
}

}  // namespace

int runServe(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("serve", kHelp, words, kOptions, global, args)) return *done;
    if (!args.positional.empty())
        return usageError("serve", "unexpected '" + args.positional[0] + "'");
    long port = kDefaultPort;
    if (auto text = args.value("port"); text && !parseInteger(*text, 0, 65535, port))
        return usageError("serve", "--port needs a port from 0 to 65535, not '" + *text + "'");
    const std::string bind = args.value("bind").value_or("127.0.0.1");
    const std::optional<Address> address = parseAddress(bind);
    if (!address) return usageError("serve", "--bind needs an IP address, not '" + bind + "'");
    const std::string token = serve::freshToken();
    if (token.empty()) {
        reportError("no random numbers for the token");
        return kExitFailed;
    }

    // Signals are taken by one thread that waits for them; every other thread,
    // the server's included, inherits this mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);  // from this thread, when the server has ended
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<ServedModule> served;
    if (!openModules(global, served)) return kExitFailed;
    std::vector<serve::ModuleService*> services;
    for (ServedModule& module : served) {
        module.service->start();
        services.push_back(module.service.get());
    }
    serve::ApiRoutes api(services);
    serve::WebServer server(api);
    const int bound = server.bind(bind, static_cast<int>(port));
    if (bound < 0) {
        reportError("cannot listen on " + bind + " port " + std::to_string(port) +
                    " (in use, or not an address of this computer)");
        return kExitFailed;
    }
    std::string shown;
    const std::vector<std::string> hosts = acceptedHosts(bind, *address, shown);
    const serve::AccessGuard guard(token, bound, hosts, address->any);
    if (!address->loopback)
        std::fprintf(stderr,
                     "quillon serve: warning: listening on %s, reachable from other computers; "
                     "anyone with the link can drive the module\n",
                     bind.c_str());
    std::fprintf(LibraryConsole::out(), "Open http://%s:%d/?token=%s\n", shown.c_str(), bound,
                 token.c_str());
    std::fflush(LibraryConsole::out());

    std::atomic<bool> ended{false};
    std::thread waiter([&] {
        int signal = 0;
        do sigwait(&stopSignals, &signal);
        while (signal == SIGUSR1 && !ended);
        if (ended) return;
        std::fprintf(stderr, "quillon serve: stopping\n");
        for (ServedModule& module : served) module.events->shutdown();
        server.stop();
        // A second signal while cleaning up ends at once.
        do sigwait(&stopSignals, &signal);
        while (signal == SIGUSR1 && !ended);
        if (!ended) _exit(128 + signal);
    });
    server.serve(guard);
    for (ServedModule& module : served) {
        module.events->shutdown();
        module.service->shutdown();
    }
    ended = true;
    pthread_kill(waiter.native_handle(), SIGUSR1);
    waiter.join();
    return kExitOk;
}

}  // namespace quillon::cli
