// Binds the host's C function tables to one host without a context argument.
//
// The tables' functions receive no pointer back to their host, so each live
// host owns one of kMaxHosts slots, and every slot has its own set of tables
// whose functions look the host up in that slot. Two hosts in one process
// therefore never see each other's handles or frames.
#include "HostState.h"

#include <atomic>
#include <utility>

namespace keo::host {

struct BoundTables {
    PlugMemoryFuncs memFuncs;
    SPBasicSuite basic;
    PrSDKPPixCreatorSuite ppixCreator;
    PrSDKPPixCacheSuite ppixCache;
    PrSDKPPixSuite ppix;
    PrSDKExportParamSuite exportParam;
    PrSDKSequenceRenderSuite sequenceRender;
    PrSDKSequenceAudioSuite sequenceAudio;
    PrSDKMemoryManagerSuite memoryManager;
    SPBasicSuite* (*getSPBasicSuite)(void);
};

namespace {

std::atomic<StandInHost*> g_hostSlots[kMaxHosts];

StandInHost* hostInSlot(int slot) {
    return g_hostSlots[slot].load(std::memory_order_acquire);
}

// Bind<S, op>::call has op's signature without the leading host argument.
template <int S, auto Op> struct Bind;
template <int S, typename R, typename... A, R (*Op)(StandInHost*, A...)> struct Bind<S, Op> {
    static R call(A... args) { return Op(hostInSlot(S), args...); }
};

template <int S> SPBasicSuite* slotBasicSuite() {
    StandInHost* host = hostInSlot(S);
    return host ? &host->tables->basic : nullptr;
}

template <int S> BoundTables makeTables() {
    BoundTables t{};
    t.memFuncs = {Bind<S, memNewPtr>::call,        Bind<S, memSetPtrSize>::call,
                  Bind<S, memGetPtrSize>::call,    Bind<S, memDisposePtr>::call,
                  Bind<S, memNewHandle>::call,     Bind<S, memSetHandleSize>::call,
                  Bind<S, memGetHandleSize>::call, Bind<S, memDisposeHandle>::call,
                  Bind<S, memLockHandle>::call,    Bind<S, memUnlockHandle>::call};
    t.basic = {Bind<S, basicAcquireSuite>::call, Bind<S, basicReleaseSuite>::call, basicIsEqual};
    t.ppixCreator = {Bind<S, ppixCreate>::call};
    t.ppixCache = {Bind<S, cacheGetFrame>::call, Bind<S, cacheAddFrame>::call};
    t.ppix = {Bind<S, ppixDispose>::call,
              Bind<S, ppixGetPixels>::call,
              Bind<S, ppixGetBounds>::call,
              Bind<S, ppixGetRowBytes>::call,
              Bind<S, ppixGetPixelAspectRatio>::call,
              Bind<S, ppixGetPixelFormat>::call};
    t.exportParam = {Bind<S, paramGetValue>::call};
    t.sequenceRender = {Bind<S, renderMakeVideoRenderer>::call,
                        Bind<S, renderReleaseVideoRenderer>::call, Bind<S, renderVideoFrame>::call};
    t.sequenceAudio = {Bind<S, audioMakeRenderer>::call, Bind<S, audioReleaseRenderer>::call,
                       Bind<S, audioGetAudio>::call, Bind<S, audioGetMaxBlip>::call};
    t.memoryManager = {Bind<S, memNewPtr>::call, Bind<S, memDisposePtr>::call};
    t.getSPBasicSuite = slotBasicSuite<S>;
    return t;
}

template <int... S> BoundTables* allTables(std::integer_sequence<int, S...>) {
    static BoundTables tables[] = {makeTables<S>()...};
    return tables;
}

} // namespace

int claimSlot(StandInHost* host) {
    for (int s = 0; s < kMaxHosts; ++s) {
        StandInHost* expected = nullptr;
        if (g_hostSlots[s].compare_exchange_strong(expected, host))
            return s;
    }
    return -1;
}

void releaseSlot(int slot) {
    if (slot >= 0 && slot < kMaxHosts)
        g_hostSlots[slot].store(nullptr, std::memory_order_release);
}

BoundTables* boundTables(int slot) {
    return allTables(std::make_integer_sequence<int, kMaxHosts>()) + slot;
}

void wireTables(StandInHost* host) {
    host->tables = boundTables(host->slot);
    host->memFuncs = host->tables->memFuncs;
    host->utilFuncs.getSPBasicSuite = host->tables->getSPBasicSuite;
    host->suites.piInterfaceVer = host->config.interfaceVersion;
    host->suites.memFuncs = &host->memFuncs;
    host->suites.utilFuncs = &host->utilFuncs;
    host->stdParms.imInterfaceVer = host->config.interfaceVersion;
    host->stdParms.piSuites = &host->suites;
    host->exportParms.interfaceVer = host->config.interfaceVersion;
    host->exportParms.getSPBasicSuite = host->tables->getSPBasicSuite;
}

HostSuites tableSuites(StandInHost* host) {
    BoundTables* t = host->tables;
    return HostSuites{&t->basic,          &host->memFuncs,   &t->ppixCreator,   &t->ppixCache,
                      &t->ppix,           timeSuiteTable(),  audioSuiteTable(), &t->exportParam,
                      &t->sequenceRender, &t->sequenceAudio, &t->memoryManager};
}

} // namespace keo::host
