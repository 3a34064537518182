// A fresh folder per test, removed with whatever files are left in it.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/keo-tool-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override {
        for (const std::string& f : entries())
            unlink((dir + "/" + f).c_str());
        rmdir(dir.c_str());
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> out;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = d ? readdir(d) : nullptr)
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                out.push_back(e->d_name);
        if (d)
            closedir(d);
        return out;
    }
    std::string file(const std::string& name) const { return dir + "/" + name; }
    std::string dir;
};
