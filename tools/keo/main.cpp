// keo: the command-line host of the KEO importer plug-in.
//
// Parses the command line and runs the chosen command. Every failure ends
// here as one line "keo: <what>: <why>" on stderr and a non-zero status.
#include "AtomicOutput.h"
#include "Commands.h"
#include "Failure.h"

#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <langinfo.h>

using namespace keo::tool;

namespace {

// The plug-in turns host paths into bytes with wcstombs, which follows the
// process locale; without a UTF-8 one, any non-ASCII path would be lost.
void useUtf8Locale() {
    if (!std::setlocale(LC_CTYPE, "") || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

} // namespace

int main(int argc, char** argv) {
    useUtf8Locale();
    installOutputCleanup();

    CLI::App app{"keo: inspect, decode, verify and export KEO movies through the KEO importer "
                 "plug-in"};
    app.require_subcommand(1);
    app.footer("The plug-in module is --plugin PATH, else $KEO_PLUGIN, else ../lib/KEOImporter.so\n"
               "beside keo. Run `keo COMMAND --help` for a command's options.\n\n"
               "Example:\n  keo demo");
    GlobalOptions global;
    app.add_option("--plugin", global.plugin, "Importer module to load (KEOImporter.so)");
    Action action;
    addInfoCommand(app, global, action);
    addDecodeCommand(app, global, action);
    addAudioCommand(app, global, action);
    addVerifyCommand(app, global, action);
    addSheetCommand(app, global, action);
    addExportCommand(app, global, action);
    addDemoCommand(app, global, action);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "keo: %s (see keo --help)\n", oneLine(e.what()).c_str());
        return kExitFailed;
    }
    if (!action)
        return kExitOK;
    try {
        int status = action();
        std::fflush(stdout);
        return status;
    } catch (const Failure& f) {
        std::fflush(stdout);
        std::fprintf(stderr, "keo: %s\n", oneLine(f.what()).c_str());
        return f.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "keo: out of memory\n");
        return kExitFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "keo: %s\n", oneLine(e.what()).c_str());
        return kExitFailed;
    }
}
