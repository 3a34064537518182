// Loading and unloading the plug-in module many times, as a host that scans
// its plug-in folder does: each load builds the encoder's worker records and
// their named semaphores, each unload must close them, and no semaphore name
// may be left under /dev/shm, where it would outlive the process.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PluginDriver.h"

namespace {

std::vector<std::string> semaphoreNamesOfThisProcess() {
    std::vector<std::string> names;
    const std::string prefix = "sem.keostart_" + std::to_string(getpid()) + "_";
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* entry = readdir(dir))
            if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

TEST(ModuleLoad, ThousandLoadsAndUnloadsLeaveNoSemaphoreName) {
    for (int i = 0; i < 1000; i++) {
        keo::host::PluginModule module;
        ASSERT_EQ(keo::host::loadModule(&module, KEO_PLUGIN_PATH), keo::host::kDriverOK)
            << "load " << i << ": " << module.error;
        // Between load and unload is where a leftover name would show.
        if (i % 100 == 0) {
            EXPECT_EQ(semaphoreNamesOfThisProcess(), std::vector<std::string>{}) << i;
        }
        ASSERT_EQ(keo::host::unloadModule(&module), 0) << i << ": " << module.error;
    }
    EXPECT_EQ(semaphoreNamesOfThisProcess(), std::vector<std::string>{});
}

// Each load is a complete plug-in: its entry answers on the first call after
// every reload.
TEST(ModuleLoad, EntryAnswersAfterEveryReload) {
    for (int i = 0; i < 20; i++) {
        keo::host::PluginModule module;
        ASSERT_EQ(keo::host::loadModule(&module, KEO_PLUGIN_PATH), keo::host::kDriverOK)
            << module.error;
        // imGetSupports8 needs no host.
        EXPECT_EQ(module.entry(imGetSupports8, nullptr, nullptr, nullptr), imIsVersion8);
        ASSERT_EQ(keo::host::unloadModule(&module), 0);
    }
}

} // namespace
