// Opens built movie bytes with MovFile for a test and closes it afterwards.
#pragma once

#include <memory>
#include <string>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "support/HostileCases.h"
#include "support/MovieBuilder.h"

struct OpenedMovie {
    keotest::TempFile temp;
    MovFile movie;
    LargeFp* fp = nullptr;

    // `minSampleBytes` as openRead takes it.
    explicit OpenedMovie(const keotest::Bytes& bytes, int64_t minSampleBytes = 0) : temp(bytes) {
        fp = movie.openRead(temp.path.c_str(), minSampleBytes);
    }
    explicit OpenedMovie(const keotest::Movie& m, int64_t minSampleBytes = 0)
        : OpenedMovie(m.bytes(), minSampleBytes) {}
    ~OpenedMovie() { movie.close(); }

    bool opened() const { return fp != nullptr; }
    // Refused for its structure: no handle, yet not a non-ZUVM refusal.
    bool refused() const { return fp == nullptr && movie.ok; }

    // Reads frame n through the handle the way the importer does; empty when
    // the frame cannot be located.
    keotest::Bytes frameBytes(int n) {
        long long offset = movie.frameOffset(n);
        int size = movie.frameSize(n);
        if (offset < 0 || size <= 0)
            return {};
        keotest::Bytes out(static_cast<size_t>(size));
        fseek_L(fp, offset, SEEK_SET);
        if (fread_L(out.data(), 1, out.size(), fp) != out.size())
            return {};
        return out;
    }
};

// The hostile case called `id` (support/HostileCases.h), opened.
struct HostileMovie : OpenedMovie {
    const keofaults::HostileCase& hostile;
    explicit HostileMovie(const std::string& id)
        : OpenedMovie(keofaults::hostileCase(id).bytes), hostile(keofaults::hostileCase(id)) {}
    size_t fileBytes() const { return hostile.bytes.size(); }
};
