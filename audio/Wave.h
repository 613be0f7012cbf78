// CWave: one PCM sound (a format record and a store of whole sample frames) and the WAV file
// layout it writes and reads.
//
// The file layout is fixed: a 44-byte header ("RIFF", size, "WAVEfmt ", 16, the six PCM
// fields, "data", N) followed by N sample bytes, all integers little-endian, no pad byte and
// no other chunk. The reader accepts only this arrangement: the tags must stand at offsets 0,
// 8 and 36. A file it does not accept raises CFileException(invalidFile, -1, file name) and
// leaves the sound as it was.
//
// Where the samples live. A sound is held in memory, or, for a recording that went to a
// recording spool, in that spool's file: then GetNumSamples and GetBufferLength answer from
// the spool, Save writes the file from the spool without loading it, a copy refers to the same
// spool (whose bytes never change once they are the sound's, so the copy is as deep as any),
// and the first GetBuffer (or a SetBuffer that copies) loads the frames into memory, from
// which on the sound is an ordinary one. The spool's file goes when the last sound and the
// capture engine that refer to it let it go.
//
// A CWave is used by one thread at a time. Copies are deep; a move takes the store over.
#pragma once

#include <memory>
#include <string>

#include "audio/TakeStore.h"
#include "framework/afx.h"
#include "platform/mmwave.h"

class CWave : public CObject {
  public:
    // Registered as "CWave", schema 1, creatable by name.
    static const CRuntimeClass classCWave;
    static CObject* CreateObject();
    const CRuntimeClass* GetRuntimeClass() const override;

    // PCM, 1 channel, 22050 Hz, 16 bits, and an empty store with no storage.
    CWave();
    CWave(const CWave& other);
    CWave& operator=(const CWave& other);
    // Moving hands the store over: the source keeps its format and is left with an empty
    // store that has no storage.
    CWave(CWave&& other) noexcept;
    CWave& operator=(CWave&& other) noexcept;
    ~CWave() override;

    // Loading reads the WAV layout from the archive's file, storing writes it there.
    void Serialize(CArchive& ar) override;

    // Sets a PCM format: block align = channels x bits / 8 and average bytes per second =
    // channels x rate x bits / 8 (unsigned 32-bit, remainders dropped); the extra size stays.
    // Always empties the store.
    void SetFormat(WORD nChannels, DWORD nSamplesPerSec, WORD wBitsPerSample);
    WAVEFORMATEX GetFormat() const { return format_; }

    // The first byte of the store, null when the store has never been sized. A sound in a
    // spool is loaded into memory first.
    BYTE* GetBuffer() const;
    DWORD GetNumSamples() const;
    // Frame count x block align, in bytes.
    DWORD GetBufferLength() const;

    // bCopy true: nNumSamples frames at pBuffer are copied into the store as CWaveBuffer's
    // CopyBuffer does (a store that has storage keeps its size). bCopy false: the store frees
    // its storage and adopts pBuffer, which must come from new BYTE[] and hold nNumSamples
    // frames of the block align.
    void SetBuffer(BYTE* pBuffer, DWORD nNumSamples, bool bCopy);
    // The take's frames become the samples, in place of the store's (used by the capture
    // engine for what it recorded). A null take leaves an empty store with no storage.
    void SetStore(std::unique_ptr<TakeStore> take);
    // The first nNumSamples frames of a flushed spool become the samples.
    void SetSpool(WaveSpoolPtr spool, DWORD nNumSamples);

    // Opens the existing file read-only and without sharing, reads it, closes it.
    void Load(LPCSTR lpszPath);
    // Reads the WAV layout from the file's current position.
    void Load(CFile& file);
    // Creates or truncates the file, write-only and without sharing, writes it, closes it.
    void Save(LPCSTR lpszPath);
    // Writes the WAV layout at the file's current position.
    void Save(CFile& file);
    // Keeps the sound for `talrec recover`, for when it could not be written to `destination`,
    // where it was meant to go: a spooled sound's spool is left for recovery, one held in
    // memory goes into a new spool. The sound itself stays as it is.
    void KeepForRecovery(const std::string& destination) const;

  private:
    // The store, an empty memory one when there is none.
    const TakeStore& Store() const;
    // The store in memory, a spooled one loaded first (and its spool let go).
    CWaveBuffer& Memory() const;

    WAVEFORMATEX format_;
    // Null: an empty store with no storage. A spooled one is replaced by its frames loaded
    // into memory at the first GetBuffer, so it is mutable.
    mutable std::unique_ptr<TakeStore> store_;
};
