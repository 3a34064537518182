// A container state over raw bytes, for testing the field primitives and
// atom headers without the movie walk.
#pragma once

#include <cstdio>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "support/MovieBuilder.h"

struct RawFile {
    keotest::TempFile temp;
    MovFile movie;
    QuicktimeFile* f;

    // Reading over `bytes`, or writing into an empty file when `write` is set.
    explicit RawFile(const keotest::Bytes& bytes, bool write = false) : temp(bytes) {
        f = new QuicktimeFile();
        f->fp = fopen_L(temp.path.c_str(), write ? "wb+" : "rb");
        f->rd = write ? 0 : 1;
        f->wr = write ? 1 : 0;
        f->fileSize = static_cast<int64_t>(bytes.size());
        movie.file = f;
    }
    ~RawFile() {
        fclose_L(f->fp);
        delete f->fp;
        delete f;
        movie.file = nullptr;
    }

    // Everything written so far, read back from the file.
    keotest::Bytes written() {
        std::fflush(f->fp->stream);
        std::FILE* in = std::fopen(temp.path.c_str(), "rb");
        keotest::Bytes out;
        for (int c; (c = std::fgetc(in)) != EOF;)
            out.push_back(static_cast<uint8_t>(c));
        std::fclose(in);
        return out;
    }
};
