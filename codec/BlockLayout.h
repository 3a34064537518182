// The block layouts of KEO frames: the one list of them, their block sizes,
// their names, and the layout a frame header's flags select.
//
//   layout        header flags (isDXT24, hasAlpha)   bytes a block
//   DXT1          0, 0                               8
//   DXT5          0, nonzero                         16: DXT5 alpha half, then a DXT1-style
//                                                        colour half in four-colour mode
//   DXT24         1, 0                               10: 8:8:8 end colours, two-bit indices
//   DXT24+alpha   1, nonzero                         18: DXT5 alpha half, then a DXT24 block
//
// A frame of width x height pixels holds (width + 3) / 4 x (height + 3) / 4
// blocks in raster order. The writer makes only the first three layouts; the
// decoder reads all four. Every part of the codec (decoders, encoders, the
// payload header, the tools that count frames by layout) takes layouts,
// sizes and names from here, so a new layout is added in this one place and
// then given its decoder and encoder.
#pragma once

#include <cstdint>

enum KEOBlockLayout {
    kKEOLayoutDXT1,
    kKEOLayoutDXT5,
    kKEOLayoutDXT24,
    kKEOLayoutDXT24Alpha,
    kKEOLayoutCount, // not a layout: the number of them
};

namespace keo_layout {

struct Facts {
    int blockSize;
    const char* name;
    bool isDXT24;
    bool hasAlpha;
};

// Indexed by KEOBlockLayout.
constexpr Facts kTable[kKEOLayoutCount] = {
    {8, "DXT1", false, false},
    {16, "DXT5", false, true},
    {10, "DXT24", true, false},
    {18, "DXT24+alpha", true, true},
};

constexpr bool known(KEOBlockLayout layout) {
    return layout >= 0 && layout < kKEOLayoutCount;
}

} // namespace keo_layout

// Bytes of one block; 0 for a value that is no layout. A constant
// expression, so that decoders specialised by layout take their block size
// from here too.
constexpr int KEOLayoutBlockSize(KEOBlockLayout layout) {
    return keo_layout::known(layout) ? keo_layout::kTable[layout].blockSize : 0;
}

// "DXT1", "DXT5", "DXT24", "DXT24+alpha" (as keo info prints them); "?" for a
// value that is no layout.
constexpr const char* KEOLayoutName(KEOBlockLayout layout) {
    return keo_layout::known(layout) ? keo_layout::kTable[layout].name : "?";
}

// The layout a frame header selects: isDXT24 is the header byte (1 selects
// DXT24; the decoder refuses values above 1 before asking), any nonzero
// hasAlpha byte means alpha.
constexpr KEOBlockLayout KEOLayoutOfFlags(uint8_t isDXT24, uint8_t hasAlpha) {
    if (isDXT24 == 1)
        return hasAlpha ? kKEOLayoutDXT24Alpha : kKEOLayoutDXT24;
    return hasAlpha ? kKEOLayoutDXT5 : kKEOLayoutDXT1;
}

// The header flags that select a layout, as KEOLayoutOfFlags reads them.
constexpr bool KEOLayoutIsDXT24(KEOBlockLayout layout) {
    return keo_layout::known(layout) && keo_layout::kTable[layout].isDXT24;
}
constexpr bool KEOLayoutHasAlpha(KEOBlockLayout layout) {
    return keo_layout::known(layout) && keo_layout::kTable[layout].hasAlpha;
}
