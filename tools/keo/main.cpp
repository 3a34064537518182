// keo: the command-line host of the KEO importer plug-in.
//
// Parses the command line and runs the chosen command. Every failure ends
// here as one line "keo: <what>: <why>" on stderr and a non-zero status.
#include "Commands.h"
#include "KeoVersion.h"
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"
#include "libkeo/MovieExport.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace keo::tool;
using namespace keo::lib;

namespace {

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// Whatever went to standard output must have arrived: a full disk or a
// closed descriptor is a failure, not a success. (A reader that went away
// ends keo through SIGPIPE before this, quietly, as pipes expect.)
int finishStandardOutput(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        int err = errno != 0 ? errno : EIO;
        std::fprintf(stderr, "keo: standard output: %s\n", std::strerror(err));
        return status == kExitOK ? kExitFailed : status;
    }
    return status;
}

// The commands, in the order of keo --help (and of the README's table).
std::string commandList(CLI::App& app) {
    std::string list;
    for (const CLI::App* sub : app.get_subcommands({}))
        list += (list.empty() ? "" : ", ") + sub->get_name();
    return list;
}

bool isCommand(CLI::App& app, const std::string& name) {
    for (const CLI::App* sub : app.get_subcommands({}))
        if (sub->get_name() == name)
            return true;
    return false;
}

// The first word that is not an option or the value of --plugin: the
// command, which keo names itself when it is none, rather than leaving the
// parser to say that a command is required.
const char* commandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--plugin")
            ++i;
        else if (a == "--")
            return i + 1 < argc ? argv[i + 1] : nullptr;
        else if (a.empty() || a[0] != '-')
            return argv[i];
    }
    return nullptr;
}

const char* kExitCodes =
    "Exit status: 0 done; 1 failed (usage, input, output or system error, said\n"
    "on stderr); 2 the movie is missing, unreadable, empty or not a KEO movie;\n"
    "3 some frames or sound of the movie could not be read, the rest was done.";

// Writing KEO movies from GStreamer and from any movie it decodes.
const char* kWritingExamples =
    "\n  gst-launch-1.0 -e v4l2src ! videoconvert ! keoenc ! keomux name=m ! filesink "
    "location=camera.mov autoaudiosrc ! audioconvert ! m.   (record; Ctrl-C ends it)\n"
    "  gst-launch-1.0 filesrc location=movie.webm ! decodebin name=d d. ! queue ! videoconvert ! "
    "keoenc ! keomux name=m ! filesink location=movie.mov d. ! queue ! audioconvert ! m.\n"
    "  gst-inspect-1.0 keomux   (its pads: video from keoenc, one audio_%u of raw sound)\n"
    "  keomux reserved-max-duration=36000000000000 reserved-moov-update-period=2000000000 keeps "
    "a recording of up to 10 h through a kill, its header updated every 2 s\n"
    "Any movie GStreamer decodes (WebM, Ogg, ...) into a KEO movie in one command:\n"
    "  keo export --input movie.webm -o movie.mov";

} // namespace

namespace keo::tool {
using namespace keo::lib;

void note(const GlobalOptions& global, const std::string& text) {
    if (!global.quiet)
        std::fprintf(stderr, "keo: note: %s\n", text.c_str());
}

} // namespace keo::tool

namespace {

// keo's own help: the commands' order, the plug-in, exit codes, examples.
void describeKeo(CLI::App& app) {
    app.footer(std::string("The plug-in module is --plugin PATH, else $KEO_PLUGIN, else\n"
                           "../lib/KEOImporter.so beside keo. These options of keo go before\n"
                           "or after the command. Run `keo help COMMAND` (or\n"
                           "`keo COMMAND --help`) for a command's options.\n\n") +
               kExitCodes + "\n\nExample:\n  keo demo\n\n" +
               "GStreamer (with the keo plug-in: make install, or GST_PLUGIN_PATH=build/lib/"
               "gstreamer-1.0):\n"
               "  gst-play-1.0 movie.mov\n"
               "  gst-launch-1.0 filesrc location=movie.mov ! qtdemux ! keodec ! videoconvert ! "
               "theoraenc ! oggmux ! filesink location=movie.ogg\n"
               "  gst-launch-1.0 -q videotestsrc num-buffers=100 ! video/x-raw,format=RGBA,"
               "width=640,height=360 ! fdsink | keo export --input - --size 640x360 -o test.mov");
    app.footer(app.get_footer() + kWritingExamples);
}

// keo help [COMMAND]: keo's help, or one command's.
void addHelpCommand(CLI::App& app, std::string& topic, Action& action) {
    CLI::App* help = app.add_subcommand("help", "Show the help of keo or of one command");
    help->add_option("COMMAND", topic, "The command to explain");
    help->footer("Example:\n  keo help info");
    help->callback([&app, &topic, &action] {
        action = [&app, &topic] {
            if (topic.empty()) {
                // keo's own help: app.help() would show the help of the
                // command chosen, which is `help`.
                std::fputs(app.get_formatter()
                               ->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal)
                               .c_str(),
                           stdout);
                return kExitOK;
            }
            for (CLI::App* sub : app.get_subcommands({}))
                if (sub->get_name() == topic) {
                    std::fputs(sub->help(app.get_name()).c_str(), stdout);
                    return kExitOK;
                }
            fail("help", "no command '" + topic + "'; the commands are " + commandList(app));
        };
    });
}

// Parses the command line; -1 when there is an action to run, else keo's
// exit status (help, version, or a mistake said on stderr).
int parseCommandLine(CLI::App& app, int argc, char** argv) {
    const char* command = commandWord(argc, argv);
    if (command && !isCommand(app, command)) {
        std::fprintf(stderr, "keo: '%s' is not a command; the commands are %s (see keo --help)\n",
                     command, commandList(app).c_str());
        return kExitFailed;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return finishStandardOutput(app.exit(e));
    } catch (const CLI::ParseError& e) {
        if (!command && dynamic_cast<const CLI::RequiredError*>(&e) &&
            app.get_subcommands().empty())
            std::fprintf(stderr, "keo: a command is needed: %s (see keo --help)\n",
                         commandList(app).c_str());
        else
            std::fprintf(stderr, "keo: %s (see keo --help)\n", oneLine(e.what()).c_str());
        return kExitFailed;
    }
    return -1;
}

// Runs the chosen command; every failure ends here as one line on stderr.
int runAction(const Action& action) {
    if (!action)
        return finishStandardOutput(kExitOK);
    try {
        return finishStandardOutput(action());
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

} // namespace

int main(int argc, char** argv) {
    installOutputCleanup();
    // keo ends with its movie: every command reuses its frames' memory.
    keepFreedFrameMemory();

    CLI::App app{"keo: inspect, decode, verify and export KEO movies through the KEO importer "
                 "plug-in"};
    app.require_subcommand(1);
    // Options of keo itself (--plugin, -q, --version) are taken after the
    // command too: a command passes up what it does not know.
    app.fallthrough();
    describeKeo(app);
    GlobalOptions global;
    app.add_option("--plugin", global.plugin, "Importer module to load (KEOImporter.so)")
        ->option_text("PATH");
    app.add_flag("-q,--quiet", global.quiet,
                 "No progress bar, notes or summary lines; errors are still reported");
    app.set_version_flag("--version", std::string("keo ") + kKeoVersion, "Show keo's version");
    Action action;
    addInfoCommand(app, global, action);
    addDecodeCommand(app, global, action);
    addAudioCommand(app, global, action);
    addSheetCommand(app, global, action);
    addVerifyCommand(app, global, action);
    addExportCommand(app, global, action);
    addDemoCommand(app, global, action);
    std::string helpTopic;
    addHelpCommand(app, helpTopic, action);

    const int status = parseCommandLine(app, argc, argv);
    return status >= 0 ? status : runAction(action);
}
