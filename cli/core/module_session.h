// Finding and opening the module for one command, closing it again at the
// end, and telling the user why an operation failed.
#pragma once

#include <functional>
#include <string>

struct quillon_module;

namespace quillon::cli {

class InterruptWatch;

struct GlobalOptions {
    int device = 0;            // index among the modules found
    std::string deviceSerial;  // when not empty: the module with this serial number
    bool deviceGiven = false;  // --device was given (else a command may take every module)
    bool log = false;          // the library's dated log file in the working directory
    double waitSeconds = 10;   // for a module another program holds
};

// Prints "quillon: <what>: <the library's last-error text>" on standard error,
// after whatever the library itself printed.
void reportLibraryFailure(const std::string& what);
// Prints "quillon: <text>" on standard error.
void reportError(const std::string& text);
// Tells what opening `module` (null: the module of openSpectrometer) did with
// a save an earlier process left unfinished, when it did anything.
void reportRecovery(quillon_module* module);

// One try at opening a module, as either interface tells it.
enum class OpenTry { Opened, Busy, Refused, AccessDenied };

// Tries `attempt` until it opens or is refused; while another program holds
// the module, again every 100 ms for up to options.waitSeconds (saying so
// once), unless `interrupt` reports a signal. On a refusal `refused` prints
// why; the busy module and the missing udev rule are told here. True: opened.
bool openWaiting(const GlobalOptions& options, const InterruptWatch* interrupt,
                 const std::string& which, const std::function<OpenTry()>& attempt,
                 const std::function<void()>& refused);

class OpenModule {
  public:
    // enumerateDevices, then openSpectrometer(options.device); failures are
    // reported here and leave ok() false. While another program holds the
    // module, tries again for up to options.waitSeconds (saying so once),
    // unless `interrupt` reports a signal.
    explicit OpenModule(const GlobalOptions& options, const InterruptWatch* interrupt = nullptr);
    ~OpenModule();
    OpenModule(const OpenModule&) = delete;
    OpenModule& operator=(const OpenModule&) = delete;

    bool ok() const { return open_; }

  private:
    bool open_ = false;
};

}  // namespace quillon::cli
