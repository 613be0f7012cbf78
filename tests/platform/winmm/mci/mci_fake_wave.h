// A wave output for the device tests that plays on a clock the test moves: nothing is played
// until the test hands out frames with Advance, so end, pause and position are exact. Every
// device it opens plays into one capture that the test reads. Formats can be refused and a
// write can be made to fail.
#pragma once

#include <cstdint>
#include <vector>

namespace fakewave {

void Reset();  // forgets the capture and every setting; call before each test

// Lets the device play this many frames more (on its own thread) and waits until it has
// played them or has run out of queued sound.
void Advance(std::uint64_t frames);

std::vector<std::uint8_t> Captured();
int OpenCount();  // devices opened (not queries)
bool AnyOpen();
int LastBits();
int LastRate();
int LastChannels();

void AcceptOnly16Bit(bool on);     // WAVE_FORMAT_QUERY and open refuse 8-bit
void FailWritesAfter(int writes);  // from then on waveOutWrite fails (-1: never)
void RefuseOpen(bool on);          // waveOutOpen answers MMSYSERR_ALLOCATED

}  // namespace fakewave
