// The rate and length a host is told of movies whose frames do not all last
// as long: other writers' time-to-sample tables, built here as they store
// them, told as the frames over the time they take, the nearest standard
// rate where one is within 0.1%.
#include "ImporterDriver.h"

namespace keoimp {
namespace {

class TableRateTest : public ImporterTest {};

using Entries = std::vector<std::pair<uint32_t, uint32_t>>;

TEST_F(TableRateTest, OtherWritersTablesAreToldTheirRate) {
    struct Case {
        const char* what;
        uint32_t timeScale;
        Entries stts;
        int32_t scale, sampleSize;
    } cases[] = {
        // Millisecond clocks: 33, 34, 33 ms is 30 frames a second, not 30.3.
        {"30 fps in ms", 1000, keotest::roundedDurations(30, 1, 1000, 100), 30, 1},
        {"24 fps in ms", 1000, keotest::roundedDurations(24, 1, 1000, 100), 24, 1},
        {"60 fps in ms", 1000, keotest::roundedDurations(60, 1, 1000, 100), 60, 1},
        {"29.97 in ms", 1000, keotest::roundedDurations(30000, 1001, 1000, 301), 30000, 1001},
        {"59.94 in ms", 1000, keotest::roundedDurations(60000, 1001, 1000, 601), 60000, 1001},
        {"23.976 at 90 kHz", 90000, keotest::roundedDurations(24000, 1001, 90000, 101), 24000,
         1001},
        {"29.97 at 600", 600, keotest::roundedDurations(30000, 1001, 600, 1001), 30000, 1001},
        // A lone first frame that lasts up to the second's start, or an
        // entry of no frames, would make 29.97 three times as slow.
        {"a long first frame", 30000, {{1, 3003}, {299, 1001}}, 30000, 1001},
        {"an entry that covers no frame", 30000, {{0, 3003}, {300, 1001}}, 30000, 1001},
        {"the last frame cut to the stream's end", 30000, {{299, 1001}, {1, 500}}, 30000, 1001},
        // A frame of no time would make the others play faster.
        {"a frame that lasts no time", 30000, {{150, 1001}, {1, 0}, {150, 1001}}, 30000, 1001},
        // No standard rate near: the frames over their time, here 14.9993.
        {"15 fps in ms", 1000, keotest::roundedDurations(15, 1, 1000, 100), 100000, 6667},
        // 12.5000006 frames a second, whose lowest terms times 3001 frames
        // would overflow the host's 32-bit duration: the nearest rate that
        // fits it.
        {"12.5 at 90 kHz, unevenly", 90000, {{1500, 7201}, {1501, 7199}}, 8944863, 715589},
        // A table of one entry is told what it always was: 29.98 is not
        // 29.97, 30.3 not 30.
        {"29.98 in hundredths", 2998, {{3, 100}}, 1499, 50},
        {"30.3 in ms, one entry", 1000, {{3, 33}}, 1000, 33},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(open(keotest::timedMovie(c.timeScale, c.stts).bytes()), 0);
        ASSERT_EQ(info(), 0);
        EXPECT_EQ(fileInfo.vidScale, c.scale);
        EXPECT_EQ(fileInfo.vidSampleSize, c.sampleSize);
        int32_t frames = 0;
        for (const auto& entry : c.stts)
            frames += static_cast<int32_t>(entry.first);
        EXPECT_EQ(fileInfo.vidDuration, frames * c.sampleSize);
        closeFile();
    }
}

} // namespace
} // namespace keoimp
