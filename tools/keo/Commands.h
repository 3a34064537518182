// The keo commands: each file adds one subcommand to the command line.
//
// A command's add function declares its options and, when the subcommand is
// chosen, leaves the work to do in `action`; main runs it after parsing, so
// every failure surfaces in one place as one line on stderr.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace keo::tool {

struct GlobalOptions {
    std::string plugin; // --plugin PATH, empty when not given
    bool quiet = false; // --quiet: no progress, notes or "wrote" lines
};

// A note on stderr ("keo: note: ..."), unless --quiet.
void note(const GlobalOptions& global, const std::string& text);

using Action = std::function<int()>;

void addInfoCommand(CLI::App& app, const GlobalOptions& global, Action& action);
void addDecodeCommand(CLI::App& app, const GlobalOptions& global, Action& action);
void addAudioCommand(CLI::App& app, const GlobalOptions& global, Action& action);
void addVerifyCommand(CLI::App& app, const GlobalOptions& global, Action& action);
void addSheetCommand(CLI::App& app, const GlobalOptions& global, Action& action);
void addExportCommand(CLI::App& app, const GlobalOptions& global, Action& action);
void addDemoCommand(CLI::App& app, const GlobalOptions& global, Action& action);

} // namespace keo::tool
