// A busy host: threads with movies of their own, all in one stand-in host,
// opening, quieting and closing them and asking for random frames and sound,
// as the clips of an editor's timeline are read at once. Every answer must
// equal what one thread alone read from the same movie first. Short, so that
// it runs with every `make test` and under the thread sanitizer.
#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "ImporterDriver.h"

namespace keoimp {
namespace {

using Planar = std::vector<std::vector<float>>;

struct Shape {
    int width, height;
    bool alpha, dxt24;
    uint32_t timeScale, duration;
    const char* audioFormat;
    int channels, bits;
};
// Two movies a thread. Thread 0's two are of one size, as are movies 2, 3
// and 4 of threads 1 and 2, so a cache that mixed instances up would show.
const Shape kShapes[] = {
    {64, 48, false, false, 2500, 100, "twos", 2, 16},
    {64, 48, false, true, 1300, 100, "sowt", 1, 24},
    {40, 24, true, false, 30000, 1001, "twos", 2, 8},
    {40, 24, false, true, 7300, 100, "sowt", 2, 32},
    {40, 24, false, false, 600, 24, "sowt", 6, 16},
    {36, 20, true, false, 1900, 100, "twos", 1, 16},
};
constexpr int kThreads = 3, kFrames = 12, kOperations = 400;

// What one thread alone read from a movie.
struct Reference {
    imFileInfoRec8 info{};
    std::vector<Bytes> frames;
    Planar audio;
};

struct Clip {
    int movie;
    keo::host::ImporterSession session;
    bool open = false;
    int64_t audioNext = 0; // where a request to continue starts
};

// One thread's random work on its own two movies; the first answer that
// differs from the reference, or "".
std::string Churn(keo::host::StandInHost* host, ImportEntryFunc entry, int thread,
                  const std::vector<std::string>& paths, const std::vector<Reference>& refs) {
    std::mt19937 random(1234 + thread);
    Clip clips[2] = {{2 * thread, {}}, {2 * thread + 1, {}}};
    std::string why;
    for (int op = 0; op < kOperations && why.empty(); op++) {
        Clip& c = clips[random() % 2];
        const Reference& ref = refs[c.movie];
        const std::string name = "movie " + std::to_string(c.movie) + ": ";
        const int what = static_cast<int>(random() % 10);
        if (!c.open || what == 9) {
            // A first open, or quiet and open again with the same record.
            if (c.open)
                keo::host::quietFile(&c.session);
            else
                keo::host::bindImporter(&c.session, entry, host);
            if (keo::host::openFile(&c.session, paths[c.movie]) != 0 ||
                keo::host::describeFile(&c.session) != 0 ||
                c.session.info.vidDuration != ref.info.vidDuration)
                return name + "not opened as before";
            c.open = true;
            c.audioNext = 0;
        } else if (what < 5) {
            const int64_t index = random() % kFrames;
            Bytes argb;
            if (FrameAt(&c.session, keo::host::frameTime(c.session.info, index), &argb) != 0 ||
                argb != ref.frames[index])
                why = name + "frame " + std::to_string(index) + " differs";
        } else if (what < 8) {
            // What == 5 continues where the last request ended.
            const int64_t length = ref.info.audDuration;
            const int64_t first = what == 5 ? c.audioNext : random() % (length + 1);
            const uint32_t size = random() % 300 + 1;
            Planar got;
            if (AudioAt(&c.session, what == 5 ? -1 : first, size, &got) != 0)
                return name + "sound refused at " + std::to_string(first);
            const int64_t n = std::min<int64_t>(size, length - first);
            c.audioNext = first + n;
            for (size_t ch = 0; ch < got.size(); ch++)
                for (int64_t i = 0; i < size && why.empty(); i++)
                    if (got[ch][i] != (i < n ? ref.audio[ch][first + i] : -7.0f))
                        why = name + "sound differs at " + std::to_string(first + i);
        } else {
            keo::host::closeFile(&c.session);
            c.open = false;
        }
    }
    for (Clip& c : clips)
        keo::host::closeFile(&c.session);
    return why;
}

TEST_F(ImporterTest, ABusyHostGivesEveryThreadItsOwnFramesAndSound) {
    std::vector<std::string> paths;
    std::vector<Reference> refs(std::size(kShapes));
    for (size_t m = 0; m < std::size(kShapes); m++) {
        const Shape& s = kShapes[m];
        MovieRecipe recipe;
        recipe.width = s.width;
        recipe.height = s.height;
        recipe.timeScale = s.timeScale;
        recipe.duration = s.duration;
        for (uint32_t i = 0; i < kFrames; i++)
            recipe.frames.push_back(KeoFrame(s.width, s.height, s.alpha, s.dxt24, 100 * m + i));
        recipe.audio = true;
        recipe.audioFormat = s.audioFormat;
        recipe.channels = s.channels;
        recipe.bits = s.bits;
        recipe.audioFrames = 1000 + 37 * static_cast<int>(m);
        files.push_back(std::make_unique<keotest::TempFile>(BuildMovie(recipe).bytes()));
        paths.push_back(files.back()->path);

        keo::host::ImporterSession one;
        ASSERT_EQ(keo::host::startImporter(&one, entry, host), 0);
        ASSERT_EQ(keo::host::openFile(&one, paths[m]), 0);
        ASSERT_EQ(keo::host::describeFile(&one), 0);
        refs[m].info = one.info;
        refs[m].frames.resize(kFrames);
        for (int i = 0; i < kFrames; i++)
            ASSERT_EQ(FrameAt(&one, keo::host::frameTime(one.info, i), &refs[m].frames[i]), 0);
        ASSERT_EQ(AudioAt(&one, 0, static_cast<uint32_t>(one.info.audDuration), &refs[m].audio), 0);
        EXPECT_EQ(keo::host::closeFile(&one), 0);
    }

    std::vector<std::string> why(kThreads);
    std::vector<std::thread> threads;
    std::atomic<int> waiting{0}; // a gate, so that the threads' work overlaps
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            waiting.fetch_add(1);
            while (waiting.load() < kThreads)
                std::this_thread::yield();
            why[t] = Churn(host, entry, t, paths, refs);
        });
    for (auto& t : threads)
        t.join();
    for (int t = 0; t < kThreads; t++)
        EXPECT_EQ(why[t], "") << "thread " << t;
    // After all those opens the host holds no more than at the start: the
    // closed clips' frames left the cache, and its log of suite calls keeps
    // only the latest.
    EXPECT_EQ(keo::host::counters(host).cacheEntries, 0);
    EXPECT_EQ(keo::host::suiteCalls(host).size(), keo::host::kSuiteCallsKept);
}

} // namespace
} // namespace keoimp
