// The service host inkarrow: installs and removes the service "Zelvora Service", and runs
// as that service: starts the engine from its own folder, reports running once the engine's
// window exists, and closes the engine when the service is stopped.
#pragma once

#include <string>
#include <vector>

namespace zv::service_host {

inline constexpr char kServiceName[] = "Zelvora Service";
inline constexpr char kEngineProgram[] = "hevrasto";

enum class Command { kInstall, kRemove, kNothing, kRunService, kHelp, kUnknownOption };

// Takes the arguments after the program name; gives what to do: "install" or "remove"
// after "-" or "/" (any letter case, nothing after it), "--help" the usage, any other text
// after "--" an unknown option, any other text after "-" or "/" nothing, anything else
// (also none) run as the service.
Command ParseCommandLine(const std::vector<std::string>& args);

// Takes the arguments after the program name; prints the usage (on standard output for
// "--help", else with the reason on standard error) and gives the exit code: 0, or 2.
int ShowUsage(const std::vector<std::string>& args);

// Installs the service for this program and starts it; events 0, 4, 5, 7. Gives 0 or 1.
int Install();
// Stops the service when it runs and removes it; events 1, 6, 8. Gives 0 or 1.
int Remove();
// Runs as the service (the dispatcher); gives the exit code.
int RunAsService(int argc, char** argv);

// How long the service waits for the engine to end after closing its window.
inline constexpr int kEngineStopLimitMs = 60000;

}  // namespace zv::service_host
