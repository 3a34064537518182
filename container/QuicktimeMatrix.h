// The 3x3 display matrix of the movie and track headers.
//
// On disk: nine 16.16 fixed values in the order a, b, u, c, d, v, x, y, w.
// The last one holds 16384.0 in memory, which as 16.16 is the file format's
// 2.30 value 1.0, so a written identity reads back as the standard identity.
#pragma once

struct QuicktimeMatrix {
    float values[9];

    void init() {
        for (float& v : values)
            v = 0.0f;
        values[0] = 1.0f;
        values[4] = 1.0f;
        values[8] = 16384.0f;
    }
};
