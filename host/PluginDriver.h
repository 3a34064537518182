// The one way this project drives the importer module: loading it as a host
// does and walking its selectors with the stand-in host's records. keo, the
// tests, the benchmarks and the fuzz target all go through it, so a change in
// how the host calls the plug-in is made here once.
//
//   keo::host::PluginModule module;
//   if (keo::host::loadModule(&module, path) != keo::host::kDriverOK)
//       ... module.error says why ...
//   keo::host::ImporterSession s;
//   startImporter(&s, module.entry, host);     // imInit
//   openFile(&s, "/movies/a.mov");             // imOpenFile8
//   describeFile(&s);                          // imGetInfo8, into s.info
//   readFrame(&s, frameTime(s.info, 0), argb); // imGetSourceVideo
//   readAudio(&s, 0, 1000, planar);            // imImportAudio7
//   quietFile(&s);                             // imQuietFile
//   closeFile(&s);                             // imCloseFile
//   unloadModule(&module);                     // hosts rarely do
//
// A session owns neither the host nor the module: the caller makes the host,
// checks its books (leakReport) and destroys it. Every call returns the
// plug-in's own result, or one of the driver's negative codes below, which no
// importer result uses. Nothing throws and nothing is logged.
#pragma once

#include "KEOHostAPI.h"
#include "StandInHost.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keo::host {

enum DriverResult : int32_t {
    kDriverOK = 0,
    // The plug-in said yes but handed back no frame, or one of another size.
    kDriverNoFrame = -1,
    kDriverModuleMissing = -2,   // nothing at the module's path
    kDriverModuleNotLoaded = -3, // the dynamic loader refused it
    kDriverNoEntry = -4,         // it exports no xImportEntry
    kDriverNotStarted = -5,      // a call before startImporter, or without a host
};

struct PluginModule {
    void* handle = nullptr; // the loader's
    ImportEntryFunc entry = nullptr;
    std::string error; // why the last load or unload failed, for the user
};

// Loads the module at `path` with its symbols kept to itself (RTLD_LOCAL, as
// a host keeps each plug-in apart) and every symbol bound now (RTLD_NOW, so a
// missing one refuses the load instead of failing mid-edit), and finds
// xImportEntry.
int32_t loadModule(PluginModule* module, const std::string& path);
// Unloads a loaded module; the loader's result (0 when it is gone).
int32_t unloadModule(PluginModule* module);
// The entry of the module at `path`, loaded on the first call and kept for
// the life of the process: the encoder's worker records live until exit,
// and hosts do not unload a plug-in they use. Null when it cannot be loaded;
// `error` (if given) then says why.
ImportEntryFunc keptEntry(const std::string& path, std::string* error = nullptr);

// A path's bytes as the zero-terminated UTF-16 the importer takes: UTF-8
// as its characters, any other byte as the lone surrogate that carries it
// (base/PathText.h), so the importer opens exactly the file of these bytes.
std::vector<prUTF16Char> utf16Path(const std::string& path);

struct ImporterSession {
    ImportEntryFunc entry = nullptr;
    StandInHost* host = nullptr;
    imStdParms* stdParms = nullptr;
    std::vector<prUTF16Char> path16; // the open movie's, kept for imGetInfo8
    // The host's number for this importer instance, from the host at the
    // first open or description and given back at imCloseFile; the importer
    // keys its frames in the host's cache by it.
    int32_t importerID = 0;
    imFileRef fileRef = imInvalidFileRef;
    void* privateData = nullptr; // the importer's record of the movie
    imFileInfoRec8 info{};       // the last description
};

// Any selector with the session's imStdParms.
int32_t callImporter(ImporterSession* s, int32_t selector, void* param1, void* param2);
// Binds the session to `entry` and `host` and runs imInit; imIsCacheable is
// the importer's yes and comes back as kDriverOK. The entry may come from a
// loaded module or be linked in (the fuzz target links the importer).
int32_t startImporter(ImporterSession* s, ImportEntryFunc entry, StandInHost* host);
// Binds without imInit, for tests of what the importer does before it.
void bindImporter(ImporterSession* s, ImportEntryFunc entry, StandInHost* host);
// imGetIndFormat / imGetIndPixelFormat of `index`; imBadFormatIndex past
// the last one.
int32_t formatAt(ImporterSession* s, int index, imIndFormatRec* format);
int32_t pixelFormatAt(ImporterSession* s, int index, imIndPixelFormatRec* format);
// imOpenFile8 of `path`. The record of an earlier open is passed back, as a
// host does when it reopens a file it quieted.
int32_t openFile(ImporterSession* s, const std::string& path);
// imGetInfo8 into s->info.
int32_t describeFile(ImporterSession* s);
// From the description's rate (base/FrameRate.h): ticks per frame to the
// nearest tick, and the start of frame `index` rounded down to a tick, as a
// host places it; both 0 when the description gives no frame rate.
PrTime ticksPerFrame(const imFileInfoRec8& info);
PrTime frameTime(const imFileInfoRec8& info, int64_t index);
// imGetSourceVideo at `time` in `format`, where the importer writes the
// file's size when asked for 0 x 0; the frame, if any, is the caller's to
// dispose of.
int32_t requestFrame(ImporterSession* s, PrTime time, imFrameFormat* format, PPixHand* frame);
// The frame at `time` in the described size, where the host holds it: row y
// of the picture (width x 4 bytes of A, R, G, B) starts at top + y * pitch,
// and the pitch is negative because host frames are bottom row first. On 0
// the frame is the caller's to give back with returnFrame; on any other
// result it is already disposed of (kDriverNoFrame when the plug-in answered
// 0 but handed back nothing usable).
struct BorrowedFrame {
    PPixHand frame;
    const uint8_t* top;
    ptrdiff_t pitch;
};
int32_t borrowFrame(ImporterSession* s, PrTime time, BorrowedFrame* out);
void returnFrame(ImporterSession* s, BorrowedFrame* frame);
// The frame at `time` in the described size as ARGB32 (width x height x 4
// bytes, top row first, rows packed: host frames are bottom row first with
// padded rows). The frame is disposed of; kDriverNoFrame when the plug-in
// answered 0 but handed back nothing usable.
int32_t readFrame(ImporterSession* s, PrTime time, uint8_t* argb);
// imImportAudio7 of `count` sample frames at `position` (-1: continue after
// the last request) into one float array per channel.
int32_t readAudio(ImporterSession* s, int64_t position, uint32_t count, float** planar);
// imQuietFile: the movie is closed, the record stays for a reopen.
int32_t quietFile(ImporterSession* s);
// imCloseFile, when there is a record; kDriverOK when there is none. The
// instance's frames leave the host's cache and a later open is a new
// instance.
int32_t closeFile(ImporterSession* s);

} // namespace keo::host
