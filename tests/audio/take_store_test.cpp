// Both take stores, memory and spool, run through the same takes: each gives back its frames,
// writes the same WAV file byte for byte, hands over a take that later appends do not change,
// and keeps its frames for recovery under the destination it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "audio/TakeStore.h"
#include "platform/ext/wavformat.h"
#include "support/TempDir.h"
#include "support/wave_test_util.h"

namespace sp = talrec::platform;

TEST(TakeStoreTest, MemoryAndSpoolStoresKeepTheSameTake) {
    talrec::test::TempDir dir;
    const wavetest::EnvVar state("XDG_STATE_HOME", dir / "state");
    const std::string destination = dir / "take.wav";
    // Channels, frames, bytes per append (not a multiple of the chunk).
    for (const auto& [channels, frames, step] :
         {std::tuple<WORD, DWORD, std::size_t>{1, 0, 2}, {2, 1, 4}, {3, 300000, 6 * 1000}}) {
        const WAVEFORMATEX format = wavetest::Pcm(channels, 22050, 16);
        std::string data(static_cast<std::size_t>(frames) * format.nBlockAlign, '\0');
        std::generate(data.begin(), data.end(), std::minstd_rand(frames + 1));
        const auto header = WavHeader(format, static_cast<DWORD>(data.size()));
        const std::string wav = std::string(header.begin(), header.end()) + data;
        const auto* bytes = reinterpret_cast<const BYTE*>(data.data());

        for (const bool spooled : {false, true}) {
            SCOPED_TRACE(testing::Message() << frames << (spooled ? " spooled" : " in memory"));
            const std::size_t leftBefore = sp::RecordingSpool::Files().size();
            {
                auto store = TakeStore::Create(spooled ? destination : "", format);
                ASSERT_EQ(store->InMemory() == nullptr, spooled);
                for (std::size_t at = 0; at < data.size(); at += step) {
                    store->Append(bytes + at, std::min(step, data.size() - at));
                }
                EXPECT_EQ(store->Frames(), frames);
                const auto take = store->Snapshot();
                // A read across the middle (and a chunk), and one running past the end.
                std::string got(data.size() / 2 + 7, '\0');
                const std::size_t from = data.size() / 4;
                const std::size_t n =
                    store->Read(from, reinterpret_cast<BYTE*>(got.data()), got.size());
                EXPECT_EQ(n, std::min(got.size(), data.size() - from));
                EXPECT_EQ(got.substr(0, n), data.substr(from, n));
                store->Append(bytes, data.size());  // after the take: not the take's
                EXPECT_EQ(take->Frames(), frames);

                take->Save((dir / "saved.wav").c_str(), format, data.size());
                EXPECT_TRUE(talrec::test::ReadFile(dir / "saved.wav") == wav);
                {
                    CFile file((dir / "written.wav").c_str(), CFile::modeCreate | CFile::modeWrite);
                    take->Write(file, format, data.size());
                }
                EXPECT_TRUE(talrec::test::ReadFile(dir / "written.wav") == wav);
                const auto loaded = take->Load();
                const CWaveBuffer& block = loaded->Buffer();
                EXPECT_EQ(block.GetNumSamples(), frames);
                EXPECT_EQ(
                    std::string(reinterpret_cast<const char*>(block.GetBuffer()), data.size()),
                    data);

                take->KeepForRecovery(destination, format);
            }
            // Left for recovery under its destination, unless there was nothing to keep.
            const auto left = sp::RecordingSpool::Files();
            ASSERT_EQ(left.size(), leftBefore + (frames > 0 ? 1 : 0));
            if (frames == 0) continue;
            std::unique_ptr<sp::RecordingSpool> orphan;
            ASSERT_EQ(sp::RecordingSpool::OpenOrphan(left.back(), &orphan),
                      sp::RecordingSpool::Open::Opened);
            EXPECT_EQ(orphan->GetInfo().destination, destination);
            // A spool is left whole, with what was appended after the take.
            EXPECT_EQ(orphan->GetInfo().dataBytes, (spooled ? 2 : 1) * data.size());
        }
    }
}
