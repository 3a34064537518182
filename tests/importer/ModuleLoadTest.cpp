// Loading and unloading the module: the encoder's worker records are built at
// load time without leaving named semaphores behind, and unloading returns.
#include <dirent.h>
#include <dlfcn.h> // dlsym: a symbol the module must not export
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "PluginDriver.h"

namespace {

int SemaphoreNamesOfThisProcess() {
    std::string prefix = "sem.keostart_" + std::to_string(getpid()) + "_";
    int n = 0;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* e = readdir(dir))
            n += std::string(e->d_name).rfind(prefix, 0) == 0 ? 1 : 0;
        closedir(dir);
    }
    return n;
}

TEST(ImporterModule, LoadsWithOneEntryAndUnloadsWithoutAHang) {
    keo::host::PluginModule module;
    ASSERT_EQ(keo::host::loadModule(&module, KEO_PLUGIN_PATH), keo::host::kDriverOK)
        << module.error;
    EXPECT_NE(module.entry, nullptr);
    // The worker records are in the module...
    EXPECT_EQ(dlsym(module.handle, "g_threadInfos"), nullptr) << "but not exported";
    // ...and their semaphores' names are gone once they are open.
    EXPECT_EQ(SemaphoreNamesOfThisProcess(), 0);

    auto unloaded =
        std::async(std::launch::async, [&module] { return keo::host::unloadModule(&module); });
    if (unloaded.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "unloading did not return";
        std::_Exit(1);
    }
    EXPECT_EQ(unloaded.get(), 0);
    EXPECT_EQ(SemaphoreNamesOfThisProcess(), 0);
}

} // namespace
